// The line reader and the field extraction over arbitrary bytes. Besides
// not crashing, the reader must account for every byte exactly once and
// give the same line again after stepping back over it.
#include "fuzz_common.h"

#include "qdsfile.h"

#include <cstring>

namespace {

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzutil::ScratchFile("lines.txt");
    fuzzutil::WriteBytes(path, data, size);

    CsTextFile file(path);
    Check(file.OpenFile(CsFile::READ) == 1);
    CsString line;
    CsString again;
    size_t consumed = 0;
    int lineNo = 0;
    while (true) {
        const int count = file.GetLine(line);
        if (count == 0) break;
        Check(count > 0 && static_cast<size_t>(count) <= size - consumed);
        Check(line.GetLength() <= 255 && line.GetLength() <= count);
        Check(std::memchr(line.c_str(), '\n', static_cast<size_t>(line.GetLength())) == nullptr);
        // Every third line is read twice: un-reading must give it back whole.
        if (++lineNo % 3 == 0) {
            file.BackToLine(count);
            Check(file.GetLine(again) == count);
            Check(again == line);
        }
        consumed += static_cast<size_t>(count);
        for (int n = 0; n <= 9; ++n) {
            const char* field = CsTextFile::FindValidField(line, n);
            if (field) Check(std::strlen(field) <= 80);
        }
    }
    Check(consumed == size);
    Check(file.IsFileEnd());

    // The card-level helpers over the same bytes.
    file.ReWind();
    int steps = 0;
    while (!file.IsFileEnd() && steps++ < 100000) {
        if (file.SkipCommentLine() == 0) {
            file.GetLine(line);
            continue;
        }
        if (!file.FindDataLine(line)) file.GetLine(line);
    }
    Check(steps < 100000);
    file.CloseFile();
    return 0;
}
