#pragma once
// How a loader request ended, written into the request in one step once the loader has let go of everything
// else (its reader and file), and the mapping of exceptions onto it that all three loaders share.
#include <new>
#include <utility>

#include "KException.h"
#include "KFileIdentity.h"
#include "KLoaderRequest.h"
#include "KNarrowString.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"

struct KLoaderOutcome {
    KUInt32 m_Status = kDone;
    KUInt32 m_Error = kIpErrNone;
    KWString m_Message;

    static KLoaderOutcome Done() { return {}; }
    static KLoaderOutcome Cancelled() { return {kCancelled, kIpErrNone, KWString()}; }
    static KLoaderOutcome Fail(KUInt32 error, const KWString& message) { return {kFailed, error, message}; }
    static KLoaderOutcome Fail(KUInt32 error, const KNarrowString& message)
    {
        return {kFailed, error, KWString(message.CStr())};
    }

    void WriteTo(KLoaderRequest& request) const { request.End(m_Status, m_Error, m_Message); }
};

// True when the request names the file it must read (its identity) and the file under the URL is another now,
// or was rewritten: the outcome then says so (error 5).
inline bool KLoaderFileChanged(const KLoaderRequest& request, const char* name, KLoaderOutcome& outcome)
{
    if (!request.m_Identity.known)
        return false;
    // A file that is gone is reported by the reader as missing.
    const KFileIdentity now = GetFileIdentityByURL(request.m_URL);
    if (!now.known || now == request.m_Identity)
        return false;
    std::string shown;
    if (!URLToPosixPath(request.m_URL, shown))
        shown = WideToUtf8(request.m_URL);
    outcome = KLoaderOutcome::Fail(
        kIpErrFileIO, KNarrowString("%s: '%s' was replaced or rewritten while it was being read", name, shown.c_str()));
    return true;
}

template <class FormatException, class Body>
KLoaderOutcome KRunLoaderBodyUnchecked(const KLoaderRequest& request, const char* name, Body&& body)
{
    try {
        return std::forward<Body>(body)();
    } catch (const KExceptionFileNotFound&) {
        return KLoaderOutcome::Fail(kLoaderErrFileNotFound, request.m_URL);
    } catch (const FormatException& e) {
        return KLoaderOutcome::Fail(kIpErrRead, KNarrowString("%s: %s (%s)", name, e.GetDescription(), e.GetMessage()));
    } catch (const KException& e) {
        return KLoaderOutcome::Fail(kIpErrInternal,
                                    KNarrowString("%s: %s (%s)", name, e.GetDescription(), e.GetMessage()));
    } catch (const std::bad_alloc&) {
        return KLoaderOutcome::Fail(kIpErrOutOfMemory, KNarrowString("%s: out of memory", name));
    } catch (...) {
        return KLoaderOutcome::Fail(kIpErrInternal, KNarrowString("%s: unknown exception", name));
    }
}

// Runs body (which makes the file's reader, answers the request and lets the reader go) and maps what it
// throws: a missing file to error 6 with the URL, the loader's format exception to error 8 and any other
// exception of the family to error 12 (both "<name>: <description> (<message>)"), memory exhaustion to 11.
// A request that names its file's identity reads that file or nothing: the file is checked before and after.
template <class FormatException, class Body>
KLoaderOutcome KRunLoaderBody(const KLoaderRequest& request, const char* name, Body&& body)
{
    KLoaderOutcome outcome;
    if (KLoaderFileChanged(request, name, outcome))
        return outcome;
    outcome = KRunLoaderBodyUnchecked<FormatException>(request, name, std::forward<Body>(body));
    // Also after a failure: a read error is most often the change itself, which is what to report.
    if (outcome.m_Status != kCancelled)
        KLoaderFileChanged(request, name, outcome);
    return outcome;
}
