#include "qdsanneal.h"

CsAnneal::CsAnneal(int setId, float scale) : setId_(setId), scale_(scale) { CheckScale(); }

void CsAnneal::SetScale(float scale)
{
    scale_ = scale;
    CheckScale();
}

void CsAnneal::CheckScale()
{
    // A NaN is left as it is so that IsValid refuses it.
    if (scale_ < 0.0f) scale_ = 0.0f;
    if (scale_ > 1.0f) scale_ = 1.0f;
}

bool CsAnneal::IsValid() const { return setId_ >= 1 && scale_ >= -1e-7f && scale_ <= 1.0000001f; }

float GetAnnealScale(const std::vector<CsAnneal>& list, int setId)
{
    for (const CsAnneal& entry : list) {
        if (entry.GetSetId() == setId) return entry.GetScale();
    }
    return 1.0f;
}
