#pragma once
// The process-wide registry of storage classes and the functions that act on storage URLs.
//
// A URL is a class name, "://" and a path of components separated by "/" ("disk://C/Photos/a.kzr"); a text
// without "://" names the class alone. Components made from native names are escaped: each of % / : \ ' " ? * #
// becomes "%" and four upper-case hex digits of its UTF-16 value (the apostrophe is %0027).
//
// The registry is filled at start-up (RegisterDiskStorageClass first) and emptied by ShutdownStorageClasses
// at the end, both on the main thread; look-ups in between take no lock.
#include <string_view>
#include <vector>

#include "KIStorageClass.h"

// Appends {name, class}; the registry owns the class. A second registration of a name that is registered
// already keeps the first class (the one look-ups find anyway) and deletes the newcomer.
void RegisterStorageClass(const KWString& name, KIStorageClass* storageClass);
// Deletes every class; the entries stay, with no class and an empty name.
void ShutdownStorageClasses();
// Names of the registered classes, in registration order.
void ListStorageClasses(std::vector<KWString>& names);

// The class named by url (exact, case-sensitive) and the path after "://" (empty without it). Null (path
// untouched) for an unknown class.
KIStorageClass* ResolveURL(const KWString& url, KWString& path);
// Null for an empty URL or an unknown class.
KIFile* OpenFileByURL(const KWString& url, int mode);
// The root folder (KSCEnumFolder) for an empty URL; null for an unknown class.
KIFolder* OpenFolderByURL(const KWString& url, KWString& leafName, bool create);
bool URLToNativePath(const KWString& url, KWString& native);
// The first class (in registry order) that holds the native path gives the URL.
bool NativePathToURL(const KWString& native, KWString& url);
// Empty when no class has the folder.
KWString GetSpecialFolderURL(int kind);
// Throw KExceptionStorageClassDoesNotExist (message: the URL) for an unknown class.
void LaunchByURL(const KWString& url, const KWChar* parameters);
void MoveToTrashByURL(const KWString& url);
bool ExistsByURL(const KWString& url, bool* isFolder);
void SetReadOnlyByURL(const KWString& url, const KFileInfo* info);
// 0 when the file cannot be opened.
KUInt32 GetFileSizeByURL(const KWString& url);
void DeleteFileByURL(const KWString& url);

// [class, components of the path...] without empty components; false (vector empty) without "://".
bool SplitURL(const KWString& url, std::vector<KWString>& components);
// components[0] + "://" + the rest joined with "/", plus "/" with trailingSlash; false for no components.
bool ComposeURL(const std::vector<KWString>& components, KWString& url, bool trailingSlash);
void EscapeURLComponent(const KWString& text, KWString& out);
// A "%" without four units after it, or without a hex digit in them, stays as it is.
void UnescapeURLComponent(const KWString& text, KWString& out);

// Splits at every separator: inner empty parts kept, a final empty part dropped, an empty text gives none.
void SplitString(const KWString& text, std::vector<KWString>& parts, const KWString& separator);
void JoinStrings(const std::vector<KWString>& parts, KWString& out, const KWString& separator);
// Splits a path or URL at "/" (as SplitString does) into the last part and the rest joined again with "/".
// Throws KArrayException "Index out of range." when there is no part at all (an empty text).
void SplitLastPart(const KWString& path, KWString& head, KWString& last);

// Conveniences at the POSIX boundary (command lines, tests): a POSIX path as a disk URL and back.
bool PosixPathToURL(std::string_view posix, KWString& url);
bool URLToPosixPath(const KWString& url, std::string& posix);
// The URL of a file to open or write: the URL of its folder, "/" and its name as it stands. Storage classes
// open the last component of a file URL as a plain name, so the URLs above (every component escaped) name
// another file when the name holds one of the escaped characters ("it's" against "it%0027s").
bool NativeFileToURL(const KWString& native, KWString& url);
bool PosixFileToURL(std::string_view posix, KWString& url);
