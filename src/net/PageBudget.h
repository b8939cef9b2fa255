// The process-wide budget for page bodies in flight. Each page is capped on its own, but a run visits many sites
// at once, and a web of huge, endless or trickling pages could still fill memory with bodies that are all under the
// cap. Transfers that count toward the budget reserve every piece of body before taking it; a piece that would
// pass the budget makes its transfer fail as an oversized page does. The budget's last part is kept for small
// bodies, so that a few huge pages in flight cannot make every ordinary page fail.
#pragma once

#include <cstddef>

namespace vexo {

struct TPageBudget {
    std::size_t Total = 0;         // all counted bodies in flight together
    std::size_t SmallBody = 0;     // a body up to this size may use the whole budget
    std::size_t SmallReserve = 0;  // the last part of the budget, for small bodies only
};

inline constexpr TPageBudget kPageBudget{std::size_t{96} << 20, std::size_t{2} << 20, std::size_t{16} << 20};

// Reserves `bytes` more for a body that holds `held` bytes so far; false (nothing reserved) when that would pass
// the budget. Thread-safe.
bool ReservePageBytes(std::size_t held, std::size_t bytes);
// Returns bytes reserved before.
void ReleasePageBytes(std::size_t bytes);
// Bytes reserved now.
std::size_t PageBytesInFlight();

// A share of the budget held by whoever keeps working on a fetched body (or on the text decoded from it), so that
// pages being read count as well as pages arriving. Given back when released, replaced or destroyed.
class TPageLease {
  public:
    TPageLease() = default;
    // Takes over bytes already reserved.
    explicit TPageLease(std::size_t reservedBytes) : bytes_(reservedBytes) {}
    ~TPageLease() { Release(); }
    TPageLease(TPageLease&& other) noexcept : bytes_(other.bytes_) { other.bytes_ = 0; }
    TPageLease& operator=(TPageLease&& other) noexcept;
    TPageLease(const TPageLease&) = delete;
    TPageLease& operator=(const TPageLease&) = delete;

    void Release();
    std::size_t Bytes() const { return bytes_; }

  private:
    std::size_t bytes_ = 0;
};

// The budget in force (kPageBudget unless changed).
TPageBudget CurrentPageBudget();
// Replaces the budget (tests; reservations already made stay); returns the one before.
TPageBudget SetPageBudget(TPageBudget budget);

}  // namespace vexo
