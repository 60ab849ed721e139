// The one in-memory model of the job.
#ifndef QDSDATABASE_H
#define QDSDATABASE_H

#include "qdxstring.h"

class CsDataManager {
public:
    // Stores the path (backslashes made '/') as the data file name; the deck
    // reader later replaces it with the state file's path.
    void SetCurWorkPath(const CsString& path);
    // The stored name cut before its last separator; empty without one.
    CsString GetCurWorkPath() const;
    const CsString& GetStrKeyID() const { return keyId_; }
    void SetStrKeyID(const CsString& key) { keyId_ = key; }
    const CsString& GetDataFileName() const { return dataFile_; }

    void UpdateElemNd() {}
    void Release();

private:
    CsString keyId_;
    CsString dataFile_;
};

extern CsDataManager dataManage;

#endif
