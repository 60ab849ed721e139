#include "qdstrimalgo.h"

#include "qdsdatabase.h"
#include "qdsmessage.h"
#include "qdstrimalgo_verify.h"

#include <algorithm>
#include <cmath>

namespace {

const char* const kStarLine = "***************************************************";
const char* const kEndLine = "***************************************************\n\n";

}  // namespace

// ------------------------------------------------------------ helpers

std::vector<int> CsAlgoTrm::NodesOf(int elem)
{
    const CsDataElem& el = dataManage.GetElem(elem);
    std::vector<int> nodes(static_cast<size_t>(el.GetNodeNum()));
    for (int k = 0; k < el.GetNodeNum(); ++k) nodes[static_cast<size_t>(k)] = el[k];
    return nodes;
}

void CsAlgoTrm::SyncTopology(int elem, const std::vector<int>& oldNodes)
{
    CsNdElemTpy& tpy = dataManage.GetTopology();
    const std::vector<int> nodes = NodesOf(elem);
    for (const int n : oldNodes) {
        if (std::find(nodes.begin(), nodes.end(), n) == nodes.end()) tpy.RemoveNodeTpyElemt(n, elem);
    }
    for (const int n : nodes) tpy.AddNodeTpyElemt(n, elem, 0);
}

void CsAlgoTrm::ShowBegin(const char* title, const char* start)
{
    ShowLine(kStarLine);
    ShowLine(title);
    ShowLine(kStarLine);
    ShowLine(start);
}

void CsAlgoTrm::ShowLineId(const char* kind, const CsString& id)
{
    CsString text;
    text.Format("The Current %s Line ID: %s", kind, id.c_str());
    ShowLine(text);
}

void CsAlgoTrm::ShowGrowth(const char* kind, const CsString& id, int from, int to)
{
    ShowLineId(kind, id);
    CsString text;
    text.Format("Iteration: elements increased from %d to %d\n", from, to);
    ShowLine(text);
    CsMessage().ShowNewLine(1);
}

void CsAlgoTrm::ShowEnd(const char* failed, const char* hint, const char* finished) const
{
    if (!succeeded) {
        ShowLine(failed);
        if (hint && !aborted) ShowLine(hint);
    } else {
        ShowLine(finished);
    }
    ShowLine(kEndLine);
}

// ------------------------------------------------------------ operation

CsAlgoTrm::CsAlgoTrm(const CsTrmLineOwners& lines, int /*unused*/)
{
    trmLineArr.reserve(lines.size());
    for (const auto& line : lines) trmLineArr.push_back(line.get());
}

int CsAlgoTrm::Trimming()
{
    if (trmLineArr.empty()) return 0;
    // Intersection points belong to one operation: a node of an earlier
    // operation's line must not be taken for a crossing of this one.
    hashOper.ReleaseItrHash();
    if (!hashOper.CreateHash()) return 0;
    // Nothing an operation leaves behind reaches the writer unchecked.
    CsCutVerify verify(trmLineArr);
    verify.Begin();

    if (dataManage.IsToRefine()) {
        const int before = dataManage.GetAdpvNumber();
        ShowLine(kStarLine);
        ShowLine("*         Adaptive Constraints Refinement         *");
        ShowLine(kStarLine);
        ShowLine("Begin to refine elements, please wait...\n");
        ShowLine("Adaptive constrains before refinement: %d\n", before);
        RefineMesh();
        ShowLine("Adaptive constrains after refinement: %d\n", hashOper.GetAdpNum());
        ShowLine("Refinements finished\n");
        if (!verify.Check(CsCutVerify::kRefinement)) {
            aborted = true;
            return 0;
        }
        verify.Begin();
    }

    // The lists of the topology follow every split from here on.
    dataManage.UpdateNdElemTpy();
    elemNum = dataManage.GetElemNumber();

    MessageBegin();
    const int result = TrimElemArr();
    if (result && !aborted) Update();
    // Checked before the end message, so that a refused cut is not announced as a success.
    if (!aborted && !verify.Check(CsCutVerify::kCut)) aborted = true;
    succeeded = result != 0 && !aborted;
    MessageEnd();
    return aborted ? 0 : result;
}

void CsAlgoTrm::Update()
{
    ShowLine("Begin to update data, please wait...\n");
    DropStaleConstraints();
    dataManage.RmvAllAdpNd();
    if (const CsHash<CsDataAdpv>* table = hashOper.GetHashAdpNd()) {
        for (int b = 0; b < table->Capacity(); ++b)
            for (const CsItem<CsDataAdpv>* item = table->GetItem(b); item; item = item->GetNext()) dataManage.AddAdpNd(item->GetData());
    }
    ShowLine("Success to update\n");
}
