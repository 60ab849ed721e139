// The state reader over arbitrary bytes: the mesh into the model, then the
// stress and strain records streamed the way the writer does, annealed and
// given new headers, and finally the writer itself over the model.
#include "fuzz_common.h"

#include "qdsexception.h"
#include "qdsfile_state.h"
#include "qdsfile_writer.h"

namespace {

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

template <class Record>
void StreamSection(CsReadData& reader, Record& record)
{
    char header[kRecordHeaderSize];
    for (int guard = 0; guard < 1000000; ++guard) {
        int got = 0;
        if constexpr (std::is_same_v<Record, StressData>) {
            got = reader.GetStress(record);
            if (got > 0) record.Anneal(0.5f);
        } else {
            got = reader.GetStrain(record);
        }
        if (got <= 0) return;
        const int length = record.FormatHeader(record.GetEid() + 1, header, sizeof header);
        Check(length >= 0 && static_cast<size_t>(length) < sizeof header);
        for (int k = 0; k < record.GetBodyLineNum(); ++k) Check(record.GetBodyLine(k).GetLength() >= 0);
    }
    Check(false);
}

void StreamRecords(const std::string& path)
{
    CsReadData reader(path, 0);
    if (!reader.OpenFile(CsFile::READ)) return;
    bool isStress = true;
    EleType type = kEleShell;
    while (reader.FindSection(isStress, type)) {
        if (isStress) {
            StressData record(type);
            StreamSection(reader, record);
        } else {
            StrainData record(type);
            StreamSection(reader, record);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzzutil::ScratchFile("state.dynain");
    fuzzutil::WriteBytes(path, data, size);

    fuzzutil::ResetModel();
    try {
        StreamRecords(path);

        // Parts 1 and 2 annealed, as an anneal job would have them.
        CsDataInfo info;
        info.dataFile = path;
        info.partSet.push_back(PartSet{1, {1, 2}});
        info.anneal.emplace_back(1, 0.5f);
        dataManage.SetDataInfo(info);
        CsReadData reader(path, 0);
        if (reader.OpenFile(CsFile::READ) && reader.ReadFile()) {
            reader.CloseFile();
            dataManage.UpdateElemNd();
            CsWrtDynin writer(fuzzutil::ScratchFile("out.dynain.tmp"));
            if (writer.OpenFile(CsFile::WRITE)) writer.WriteFile();
        }
    } catch (const CsException&) {
        // Errors the program reports and stops on.
    }
    fuzzutil::ResetModel();
    return 0;
}
