// Index checks of the element geometry (gmElemt): a bad vertex or node position is an error
// the cutting code cannot recover from, so it is thrown to the entry.
#ifndef QDSTRIMBASE_ELEM_H
#define QDSTRIMBASE_ELEM_H

// Throws CsErrorIndex "Exception: Element's Vertex Access Error" unless 0 <= idx < count.
void qdxCheckElemVtx(int idx, int count);
// Throws CsErrorIndex "Exception: Node Index Access Error" unless 0 <= idx < count.
void qdxCheckElemNode(int idx, int count);

#endif
