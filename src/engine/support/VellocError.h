#ifndef VELLOC_ERROR_H
#define VELLOC_ERROR_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velloc {

// The one exception type raised inside the engine. The facade catches it and keeps `Code()`
// as its last-error code; nothing of it leaves the facade.
class EVellocError : public std::runtime_error
{
public:
    EVellocError(int32_t code, const std::string& message)
        : std::runtime_error(message), m_Code(code)
    {
    }

    int32_t Code() const { return m_Code; }

private:
    int32_t m_Code;
};

} // namespace velloc

#endif
