#ifndef VELLOC_REPLACEABLE_SOURCE_H
#define VELLOC_REPLACEABLE_SOURCE_H

#include <functional>
#include <mutex>
#include <utility>

namespace velloc {

// A process-wide source of values (the clock, GUIDs) that tests can replace with a fixed one.
// Without a replacement the system function answers.
template <typename T> class TReplaceableSource
{
  public:
    using TFunction = std::function<T()>;

    explicit TReplaceableSource(T (*system)()) : m_System(system) {}

    // An empty function puts the system source back.
    void Replace(TFunction source)
    {
        const std::lock_guard lock(m_Mutex);
        m_Replacement = std::move(source);
    }

    T Read() const
    {
        TFunction source;
        {
            const std::lock_guard lock(m_Mutex);
            source = m_Replacement;
        }
        return source ? source() : m_System();
    }

  private:
    T (*m_System)();
    mutable std::mutex m_Mutex;
    TFunction m_Replacement;
};

} // namespace velloc

#endif
