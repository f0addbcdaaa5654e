// Property values come from settings and script files: every typed getter must survive any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "KPropTree.h"
#include "KTextFunctions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    KPropTree node(nullptr, "n");
    node.AddPair(KWString("v"), Utf8ToWide(bytes));
    KWString key("v");
    bool found;
    (void)node.GetInt(key, 0, &found);
    (void)node.GetDouble(key, 0.0, &found);
    (void)node.GetBool(key, false, &found);
    KColorRGBA color;
    node.GetColor(color, key, KColorRGBA{0, 0, 0, 0}, &found);
    KRect rect;
    node.GetRect(rect, key, KRect(), &found);
    KPoint point;
    node.GetPoint(point, key, KPoint(), &found);
    KWString ext;
    GetFileExtension(node.GetString(key, KWString()), ext);
    char* ansi = NewAnsiFromWide(node.GetString(key, KWString()).c_str());
    delete[] ansi;
    KWChar* wide = NewWideFromAnsi(bytes.c_str());
    delete[] wide;
    return 0;
}
