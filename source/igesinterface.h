// Bridge to the IGES translator library loaded at run time.
#ifndef IGESINTERFACE_H
#define IGESINTERFACE_H

// Reads the polylines of an IGES file through libigesdll.so, which is looked for in the
// directory of the running executable. `counts` has room for `maxLines` values; `coords` holds
// three planes of 500,000 values: all x, then all y, then all z. Returns the number of
// polylines, 0 when the library is missing or reports none.
int dyn2igesforbead(const char* file, int* counts, float* coords, int maxLines);

#endif
