#include "Manager/KIpmStatus.h"

#include "KException.h"
#include "KNarrowString.h"
#include "KTextFunctions.h"

void FailWithCurrentException(KIpMgrAsync& status, const char* where)
{
    try {
        throw;
    } catch (const KExceptionFileIO& e) {
        status.Fail(kIpErrFileIO, Utf8ToWide(KNarrowString("%s: caught KExceptionFileIO(%s, %s)!", where,
                                                           e.GetDescription(), e.GetMessage())
                                                 .Str()));
    } catch (const KException& e) {
        status.Fail(kIpErrInternal, Utf8ToWide(KNarrowString("%s: caught KException(%s, %s)!", where,
                                                             e.GetDescription(), e.GetMessage())
                                                   .Str()));
    } catch (...) {
        status.Fail(kIpErrInternal, Utf8ToWide(KNarrowString("%s: caught exception!", where).Str()));
    }
}
