#include "qdsfile_writer.h"

#include "qdsdatabase.h"
#include "qdsexception.h"
#include "qdsfile_state.h"
#include "qdsmessage.h"
#include "qdstrimbase.h"

#include <charconv>
#include <cstring>
#include <new>
#include <type_traits>

namespace {

char* PutReal(char* out, double value, int width)
{
    char text[48];
    const int n = FormatShortenedField(text, width, width == 16 ? 9 : 3, value);
    std::memcpy(out, text, static_cast<size_t>(n));
    return out + n;
}

}  // namespace

void CsWrtDynin::WriteKeySPC()
{
    WriteString("*BOUNDARY_SPC_NODE\n");
    WriteString("$ NID/NSID       CID      DOFX      DOFY      DOFZ     DOFRX     DOFRY     DOFRZ\n");
}

void CsWrtDynin::WriteKeyEnd() { WriteString("*END\n"); }

int CsWrtDynin::WriteFile()
{
    if (!IsFileOpen()) {
        const CsString key = dataManage.GetStrKeyID();
        const CsString name = key.IsEmpty() ? CsString("dynain") : SafeFileName(key) + ".dynain";
        if (!OpenFile(dataManage.GetCurWorkPath() + "/" + name, WRITE)) return 0;
    }
    CsReadData reader(dataManage.GetDataFileName(), dataManage.GetDataFileTrans());
    if (!reader.OpenFile(READ)) return 0;
    if (!WriteNode() || !WriteElem()) return 0;
    if (dataManage.IsDynain() && !WriteRecords(reader)) return 0;
    WriteKeyEnd();
    return HasWriteError() ? 0 : 1;
}

int CsWrtDynin::WriteNode()
{
    const int nodeCount = dataManage.GetNodeNumber();
    if (nodeCount == 0) return 0;
    try {
        nodeUsed_.assign(static_cast<size_t>(nodeCount) + 1, 0);
    } catch (const std::bad_alloc&) {
        throw CsErrorMemory("Exception: No Enough Memory", "source/qdsfile", 2841);
    }
    for (const CsDataElem& elem : dataManage.GetElemArr()) {
        if (elem.IsDeleted() || elem.IsToDel()) continue;
        for (int k = 0; k < elem.GetNodeNum(); ++k) {
            const int node = elem[k];
            if (node >= 1 && node <= nodeCount) nodeUsed_[static_cast<size_t>(node)] = 1;
        }
    }

    ShowLine("Output node data...");
    WriteString("*KEYWORD\n*NODE\n");
    WriteString("$   NODE               X               Y               Z      TC      RC\n");
    int written = 0;
    char line[128];
    for (int i = 1; i <= nodeCount; ++i) {
        if (!nodeUsed_[static_cast<size_t>(i)]) continue;
        const CsDataNode& node = dataManage.GetNodeArr()[static_cast<size_t>(i - 1)];
        char* p = PutIntField(line, node.GetExid(), 8);
        p = PutReal(p, node.GetPoint().x(), 16);
        p = PutReal(p, node.GetPoint().y(), 16);
        p = PutReal(p, node.GetPoint().z(), 16);
        *p++ = '\n';
        WriteString(line, static_cast<size_t>(p - line));
        ++written;
    }
    if (written == 0) {
        CsMessage msg;
        msg.Set("No Valid Node Left\n");
        ShowLine("Fail to Output node data\n");
        return 0;
    }
    ShowLine("Number of Nodes: %d\n", written);

    // Boundary constraints of the written nodes, and the coordinate systems
    // they are given in.
    dataManage.ResetLCSUsed();
    int constrained = 0;
    int cid = 0;
    int dofs[6];
    for (int i = 1; i <= nodeCount; ++i) {
        if (!nodeUsed_[static_cast<size_t>(i)]) continue;
        if (!dataManage.GetNodeArr()[static_cast<size_t>(i - 1)].GetSpc(cid, dofs)) continue;
        ++constrained;
        const int system = dataManage.GetLCSFromExid(cid);
        if (cid != 0 && system > 0) dataManage.SetLCSUsed(system);
    }
    if (constrained > 0) {
        ShowLine("Output Boundary SPC nodes");
        WriteKeySPC();
        for (int i = 1; i <= nodeCount; ++i) {
            if (!nodeUsed_[static_cast<size_t>(i)]) continue;
            const CsDataNode& node = dataManage.GetNodeArr()[static_cast<size_t>(i - 1)];
            if (!node.GetSpc(cid, dofs)) continue;
            char* p = PutIntField(line, node.GetExid(), 10);
            p = PutIntField(p, cid, 10);
            for (int k = 0; k < 6; ++k) p = PutIntField(p, dofs[k] ? 1 : 0, 10);
            *p++ = '\n';
            WriteString(line, static_cast<size_t>(p - line));
        }
        ShowLine("Number of Boundary SPC nodes: %d\n", constrained);
    }

    int systems = 0;
    for (const int kind : {static_cast<int>(KeyLCS::kBySystem), static_cast<int>(KeyLCS::kByVector)}) {
        bool first = true;
        for (int s = 1; s <= dataManage.GetLCSNum(); ++s) {
            const KeyLCS& lcs = dataManage.GetLCS(s);
            if (!dataManage.IsUsedLCS(s) || lcs.kind % KeyLCS::kUsed != kind) continue;
            if (first) {
                if (systems == 0) ShowLine("Output defined coordinates");
                WriteString(kind == KeyLCS::kBySystem ? "*DEFINE_COORDINATE_SYSTEM\n" : "*DEFINE_COORDINATE_VECTOR\n");
                first = false;
            }
            const int from = kind == KeyLCS::kBySystem ? 0 : 1;
            char* p = PutIntField(line, lcs.cid, 10);
            for (int k = from; k < from + 2; ++k) {
                p = PutReal(p, lcs.point[k].x(), 10);
                p = PutReal(p, lcs.point[k].y(), 10);
                p = PutReal(p, lcs.point[k].z(), 10);
            }
            *p++ = '\n';
            if (kind == KeyLCS::kBySystem) {
                p = PutReal(p, lcs.point[2].x(), 10);
                p = PutReal(p, lcs.point[2].y(), 10);
                p = PutReal(p, lcs.point[2].z(), 10);
                *p++ = '\n';
            }
            WriteString(line, static_cast<size_t>(p - line));
            ++systems;
        }
    }
    if (systems > 0) ShowLine("Number of coodinates: %d\n", systems);

    // An adaptive constraint is written only with all three of its nodes: a
    // constraint naming a node that is not in the file would corrupt it.
    const std::vector<CsDataAdpv>& adpvs = dataManage.GetAdpvArr();
    if (!adpvs.empty()) {
        ShowLine("Output Constrained adptive data");
        auto isWritten = [this](int exid) {
            const int index = dataManage.GetNdidFromExid(exid);
            return index > 0 && nodeUsed_[static_cast<size_t>(index)];
        };
        int count = 0;
        for (const CsDataAdpv& adpv : adpvs) {
            if (!isWritten(adpv.GetNode()) || !isWritten(adpv.GetN1()) || !isWritten(adpv.GetN2())) continue;
            if (count == 0) WriteString("*CONSTRAINED_ADAPTIVITY\n");
            char* p = PutIntField(line, adpv.GetNode(), 10);
            p = PutIntField(p, adpv.GetN1(), 10);
            p = PutIntField(p, adpv.GetN2(), 10);
            *p++ = '\n';
            WriteString(line, static_cast<size_t>(p - line));
            ++count;
        }
        if (count > 0) ShowLine("Number of Constrained Nodes: %d\n", count);
        else ShowLine("No Constrained node Left");
    }
    return 1;
}

int CsWrtDynin::WriteElem()
{
    const int elemCount = dataManage.GetElemNumber();
    if (elemCount == 0) return 0;
    ShowLine("Output Element data...");
    written_.assign(static_cast<size_t>(elemCount) + 1, 0);
    struct Pass {
        EleType type;
        const char* keyword;
        const char* comment;
    };
    static const char* const kEightNodes =
        "$    EID     PID      N1      N2      N3      N4      N5      N6      N7      N8\n";
    const Pass passes[] = {
        {kEleShell, "*ELEMENT_SHELL_THICKNESS\n", "$    EID     PID      N1      N2      N3      N4\n"},
        {kEleTShell, "*ELEMENT_TSHELL\n", kEightNodes},
        {kEleSolid, "*ELEMENT_SOLID\n", kEightNodes},
    };
    int count = 0;
    std::vector<int> offspring;
    for (const Pass& pass : passes) {
        bool first = true;
        for (int i = 1; i <= elemCount; ++i) {
            if (dataManage.GetElemArr()[static_cast<size_t>(i - 1)].GetType() != pass.type) continue;
            if (first) {
                WriteString(pass.keyword);
                WriteString(pass.comment);
                first = false;
            }
            count += WriteElem(i);
            offspring.clear();
            hashOper.GetOffSpring(i, offspring);
            for (const int child : offspring) count += WriteElem(child);
        }
    }
    if (count == 0) {
        ShowLine("Fail to Output Element data\n");
        return 0;
    }
    ShowLine("Number of Elements: %d\n", count);
    return 1;
}

int CsWrtDynin::WriteElem(int elemIdx)
{
    if (!dataManage.IsValidElem(elemIdx) || written_[static_cast<size_t>(elemIdx)]) return 0;
    const CsDataElem& elem = dataManage.GetElemArr()[static_cast<size_t>(elemIdx - 1)];
    if (elem.IsToDel()) return 0;
    written_[static_cast<size_t>(elemIdx)] = 1;

    int n[8];
    const int count = elem.GetNodeNum();
    for (int k = 0; k < 8; ++k) n[k] = k < count ? dataManage.GetNodeExid(elem[k]) : 0;
    int fields[10];
    int used = 0;
    fields[used++] = elem.GetExid();
    fields[used++] = elem.GetPrtid();
    const bool shell = elem.GetType() == kEleShell;
    if (count <= 4) {
        if (count == 3) n[3] = n[2];
        for (int k = 0; k < 4; ++k) fields[used++] = n[k];
        if (!shell) {
            for (int k = 0; k < 4; ++k) fields[used++] = n[3];
        }
    } else if (count == 6) {
        if (shell) {
            for (int k = 0; k < 6; ++k) fields[used++] = n[k];
        } else if (elem.GetType() == kEleTShell) {
            for (const int k : {0, 1, 2, 2, 3, 4, 5, 5}) fields[used++] = n[k];
        } else {
            for (const int k : {0, 1, 2, 3, 4, 4, 5, 5}) fields[used++] = n[k];
        }
    } else {
        for (int k = 0; k < 8; ++k) fields[used++] = n[k];
    }
    char line[192];
    char* p = line;
    for (int k = 0; k < used; ++k) p = PutIntField(p, fields[k], 8);
    *p++ = '\n';
    if (shell) {
        char thick[48];
        const int length = FormatShortenedField(thick, 16, 9, elem.GetThickness());
        for (int k = 0; k < 4; ++k) {
            std::memcpy(p, thick, static_cast<size_t>(length));
            p += length;
        }
        *p++ = '\n';
    }
    WriteString(line, static_cast<size_t>(p - line));
    return 1;
}

void CsWrtDynin::WriteStress(const StressData& record) { WriteStress(record, record.GetEid()); }

void CsWrtDynin::WriteStress(const StressData& record, int elemId)
{
    if (record.GetNplane() < 1 || record.GetNthick() < 1 || record.GetNhisv() < 0) return;
    WriteRecord(record, elemId);
}

void CsWrtDynin::WriteStrain(const StrainData& record) { WriteStrain(record, record.GetEid()); }

void CsWrtDynin::WriteStrain(const StrainData& record, int elemId)
{
    if (elemId <= 0) return;
    WriteRecord(record, elemId);
}

// The record's lines are gathered and handed to the stream at once: one
// call per line cost more than the copy.
template <class Record>
void CsWrtDynin::WriteRecord(const Record& record, int elemId)
{
    char header[kRecordHeaderSize];
    const int length = record.FormatHeader(elemId, header, sizeof header);
    std::string& text = recordText_;
    text.assign(header, static_cast<size_t>(length));
    text += '\n';
    for (int k = 0; k < record.GetBodyLineNum(); ++k) {
        text += record.GetBodyLine(k).str();
        text += '\n';
    }
    WriteString(text.data(), text.size());
}

int CsWrtDynin::WriteRecords(CsReadData& reader)
{
    ShowLine("**** Output Strain-Stress data  ****");
    // Every stress and strain section of the input reaches the output, in
    // the order of the input file.
    bool isStress = true;
    EleType type = kEleShell;
    while (reader.FindSection(isStress, type)) {
        int result = 0;
        if (isStress) {
            StressData record(type);
            result = WriteSection(reader, record, type);
        } else {
            StrainData record(type);
            result = WriteSection(reader, record, type);
        }
        if (!result) return 0;
    }
    return 1;
}

template <class Record>
int CsWrtDynin::WriteSection(CsReadData& reader, Record& record, EleType type)
{
    constexpr bool kStress = std::is_same_v<Record, StressData>;
    const bool isStress = kStress;
    ShowLine(isStress ? "Output Stress data..." : "Output Strain data...");
    int count = 0;
    bool keyword = false;
    std::vector<int> offspring;
    while (true) {
        int got = 0;
        if constexpr (kStress) got = reader.GetStress(record);
        else got = reader.GetStrain(record);
        if (got < 0) {
            ShowLine(reader.GetError());
            return 0;
        }
        if (got == 0) break;
        const int elem = dataManage.GetElidFromExid(record.GetEid());
        if (elem == 0) continue;
        if constexpr (kStress) record.Anneal(dataManage.GetElemAnneal(elem));
        if (!keyword) {
            const bool solid = dataManage.GetElemType(elem) == kEleSolid;
            if (isStress) {
                WriteString(type == kEleTShell ? "*INITIAL_STRESS_TSHELL\n"
                            : solid            ? "*INITIAL_STRESS_SOLID\n"
                                               : "*INITIAL_STRESS_SHELL\n");
            } else {
                WriteString(type == kEleSolid ? "*INITIAL_STRAIN_SOLID\n" : "*INITIAL_STRAIN_SHELL\n");
            }
            keyword = true;
        }
        auto write = [this, &record](int elemIdx) {
            if constexpr (kStress) WriteStress(record, dataManage.GetElemExid(elemIdx));
            else WriteStrain(record, dataManage.GetElemExid(elemIdx));
        };
        if (!dataManage.GetElem(elem).IsToDel()) {
            write(elem);
            ++count;
        }
        offspring.clear();
        hashOper.GetOffSpring(elem, offspring);
        for (const int child : offspring) {
            if (!dataManage.IsValidElem(child) || dataManage.GetElem(child).IsToDel()) continue;
            write(child);
            ++count;
        }
    }
    if (count > 0) ShowLine(isStress ? "Number of Stress data: %d\n" : "Number of Strain data: %d\n", count);
    else ShowLine(isStress ? "Fail to Output Stress data\n" : "Fail to Output Strain data\n");
    return 1;
}
