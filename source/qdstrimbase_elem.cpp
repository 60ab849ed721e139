#include "qdstrimbase_elem.h"

#include "qdsexception.h"

void qdxCheckElemVtx(int idx, int count)
{
    if (idx < 0 || idx >= count)
        throw CsErrorIndex("Exception: Element's Vertex Access Error", "source/qdstrimbase", __LINE__);
}

void qdxCheckElemNode(int idx, int count)
{
    if (idx < 0 || idx >= count)
        throw CsErrorIndex("Exception: Node Index Access Error", "source/qdstrimbase", __LINE__);
}
