// The deck reader over arbitrary bytes, with a small state file beside the
// deck for its include to find. A deck naming a path with a separator is
// refused before reading, so every file it can reach lies in the scratch
// directory; the only file written is the scratch output of an anneal job.
#include "fuzz_common.h"

#include "qdsexception.h"
#include "qdsfile_deck.h"
#include "qdsfile_writer.h"

#include <cstring>

namespace {

const char* const kBlank =
    "*KEYWORD\n"
    "*NODE\n"
    "       1             0.0             0.0             0.0\n"
    "       2            10.0             0.0             0.0\n"
    "       3            20.0             0.0             0.5\n"
    "       4             0.0            10.0             0.0\n"
    "       5            10.0            10.0             0.0\n"
    "       6            20.0            10.0             0.5\n"
    "*ELEMENT_SHELL_THICKNESS\n"
    "       1       1       1       2       5       4\n"
    "             0.9             0.9             0.9             0.9\n"
    "       2       2       2       3       6       6\n"
    "             0.8             0.8             0.8             0.8\n"
    "*CONSTRAINED_ADAPTIVITY\n"
    "         2         1         3\n"
    "*INITIAL_STRESS_SHELL\n"
    "         1         1         1         2\n"
    "-1.000e+0 2.110e+2-1.000e+2 1.500e+0 1.250e+1 0.000e+0-3.250e+0 5.000e-2\n"
    " 5.000e-1 1.500e+0\n"
    "         2         1         1\n"
    "-1.000e+0 2.110e+2-1.000e+2 1.500e+0 1.250e+1 0.000e+0-3.250e+0 5.000e-2\n"
    "*INITIAL_STRAIN_SHELL\n"
    "         1\n"
    " 1.000e-2-2.000e-3 0.000e+0 3.000e-3 0.000e+0 0.000e+0\n"
    " 1.200e-2-4.000e-3 0.000e+0 3.000e-3 0.000e+0 0.000e+0\n"
    "*END\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (std::memchr(data, '/', size) || std::memchr(data, '\\', size)) return -1;
    static const bool blankWritten = [] {
        const std::string path = fuzzutil::ScratchFile("blank.dynain");
        fuzzutil::WriteBytes(path, reinterpret_cast<const uint8_t*>(kBlank), std::strlen(kBlank));
        return true;
    }();
    (void)blankWritten;
    const std::string deck = fuzzutil::ScratchFile("fuzz.dyn");
    fuzzutil::WriteBytes(deck, data, size);

    fuzzutil::ResetModel();
    dataManage.SetCurWorkPath(deck);
    try {
        CsReadDyna reader(deck);
        if (reader.OpenFile(CsFile::READ) && reader.ReadFile()) {
            dataManage.UpdateElemNd();
            if (reader.IsAnneal()) {
                CsWrtDynin writer(fuzzutil::ScratchFile("out.dynain.tmp"));
                if (writer.OpenFile(CsFile::WRITE)) writer.WriteFile();
            }
        }
    } catch (const CsException&) {
        // Errors the program reports and stops on.
    }
    fuzzutil::ResetModel();
    return 0;
}
