#pragma once
// The system's exception family: thrown by value, caught by reference to the most general class handled.
// Each class answers a fixed description; the object carries only its message.
#include "KNarrowString.h"

class KException {
public:
    explicit KException(const char* message) { m_Message = message; }
    KException(const KException& other) = default;
    KException& operator=(const KException&) = default;
    virtual ~KException() = default;

    virtual const char* GetDescription() const { return "Quarel exception"; }
    const char* GetMessage() const { return m_Message.CStr(); }

private:
    KNarrowString m_Message;
};

// Declares a class of the family: two constructors (message, copy) and its description.
#define K_DECLARE_EXCEPTION(Name, Base, Description)                          \
    class Name : public Base {                                                \
    public:                                                                   \
        explicit Name(const char* message) : Base(message) {}                 \
        Name(const Name& other) = default;                                    \
        const char* GetDescription() const override { return Description; }   \
    }

K_DECLARE_EXCEPTION(KExceptionIO, KException, "General I/O exception");
K_DECLARE_EXCEPTION(KExceptionFileIO, KExceptionIO, "File I/O exception");
K_DECLARE_EXCEPTION(KExceptionFileOpen, KExceptionFileIO, "File open failed");
K_DECLARE_EXCEPTION(KExceptionFileNotFound, KExceptionFileOpen, "File or path not found");
K_DECLARE_EXCEPTION(KExceptionFileRead, KExceptionFileIO, "File read failed");
K_DECLARE_EXCEPTION(KExceptionEOF, KExceptionFileRead, "End-of-file");
K_DECLARE_EXCEPTION(KExceptionFileWrite, KExceptionFileIO, "File write failed");
K_DECLARE_EXCEPTION(KExceptionProperties, KException, "KHasProperties exception");
K_DECLARE_EXCEPTION(KExceptionConversion, KExceptionProperties, "KHasProperties conversion exception");
K_DECLARE_EXCEPTION(KExceptionEndOfList, KExceptionProperties, "KHasProperties end of list exception");
K_DECLARE_EXCEPTION(KArrayException, KException, "KArrayException");
K_DECLARE_EXCEPTION(KExceptionStorageClassDoesNotExist, KException, "There is no storage class of that name");
K_DECLARE_EXCEPTION(KExceptionSyncObject, KException, "Sync object exception");
K_DECLARE_EXCEPTION(KExceptionXMLParser, KException, "XML Parser Error");
K_DECLARE_EXCEPTION(KExceptionLaunchFailed, KException, "Application Launch Failed");
