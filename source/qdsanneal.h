// Anneal factors: the scale applied to the initial stresses of the elements
// of one part set.
#ifndef QDSANNEAL_H
#define QDSANNEAL_H

#include <vector>

class CsAnneal {
public:
    CsAnneal() = default;
    // The scale is clamped to 0..1.
    CsAnneal(int setId, float scale);

    void SetSetId(int setId) { setId_ = setId; }
    int GetSetId() const { return setId_; }
    float GetScale() const { return scale_; }
    // Stores and clamps.
    void SetScale(float scale);

    // Below 0 becomes 0, above 1 becomes 1.
    void CheckScale();
    // A set id of at least 1 and a scale within 0..1 (with a little slack).
    bool IsValid() const;
    bool IsZero() const { return scale_ < 1e-6f; }

private:
    int setId_ = 0;
    float scale_ = 1.0f;
};

// The scale of the first entry for the set, 1 when the set has none.
float GetAnnealScale(const std::vector<CsAnneal>& list, int setId);

#endif
