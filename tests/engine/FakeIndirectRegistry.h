#ifndef PAGEWELL_TESTS_FAKE_INDIRECT_REGISTRY_H
#define PAGEWELL_TESTS_FAKE_INDIRECT_REGISTRY_H

#include "engine/VellocStructure.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace velloc::testing {

// Stands in for the document behind a structure's two hooks: object n is Objects[n - 1],
// numbered in registration order, generation 0. Counts resolutions so tests can bound them.
class TFakeIndirectRegistry
{
  public:
    explicit TFakeIndirectRegistry(TPDFStructure& structure) : m_Structure(structure)
    {
        structure.OnResolveReference = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
            ++Resolutions;
            return number >= 1 && static_cast<size_t>(number) <= Objects.size()
                       ? Objects[static_cast<size_t>(number - 1)]
                       : nullptr;
        };
        structure.OnRegisterIndirect = [this](TPDFObject*, TPDFObject* obj) {
            return TPDFIndirectIdentity{Register(obj), 0};
        };
    }
    ~TFakeIndirectRegistry()
    {
        m_Structure.OnResolveReference = nullptr;
        m_Structure.OnRegisterIndirect = nullptr;
    }
    TFakeIndirectRegistry(const TFakeIndirectRegistry&) = delete;
    TFakeIndirectRegistry& operator=(const TFakeIndirectRegistry&) = delete;

    int32_t Register(TPDFObject* obj)
    {
        Objects.push_back(obj);
        const auto number = static_cast<int32_t>(Objects.size());
        obj->SetIndirectIdentity(number, 0);
        return number;
    }

    // Parses text and registers the result as the next object.
    TPDFObject* RegisterParsed(std::string_view text)
    {
        TPDFObject* obj = m_Structure.Parse(text);
        Register(obj);
        return obj;
    }

    // The text of object n, or "" when there is none.
    std::string TextOf(int32_t number) const
    {
        return number >= 1 && static_cast<size_t>(number) <= Objects.size()
                   ? Objects[static_cast<size_t>(number - 1)]->Text()
                   : std::string();
    }

    std::vector<TPDFObject*> Objects;
    int64_t Resolutions = 0;

  private:
    TPDFStructure& m_Structure;
};

} // namespace velloc::testing

#endif
