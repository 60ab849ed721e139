#include "qdsdatabase.h"

CsDataManager dataManage;

void CsDataManager::SetCurWorkPath(const CsString& path)
{
    dataFile_ = path;
    dataFile_.Replace('\\', '/');
}

CsString CsDataManager::GetCurWorkPath() const
{
    int cut = dataFile_.RFind('/');
    if (cut < 0) cut = dataFile_.RFind('\\');
    if (cut < 0) return CsString();
    return dataFile_.Left(cut);
}

void CsDataManager::Release() { keyId_.Empty(); }
