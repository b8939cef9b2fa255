// The page budget: one atomic count of reserved bytes; the limits are read with it so that a reservation is
// checked against one consistent budget.
#include "net/PageBudget.h"

#include <atomic>
#include <mutex>

namespace vexo {

namespace {

std::atomic<std::size_t> inFlight{0};

std::mutex& BudgetLock() {
    static std::mutex lock;
    return lock;
}

TPageBudget& Budget() {
    static TPageBudget budget = kPageBudget;
    return budget;
}

}  // namespace

bool ReservePageBytes(std::size_t held, std::size_t bytes) {
    TPageBudget budget;
    {
        std::lock_guard lock(BudgetLock());
        budget = Budget();
    }
    const bool small = bytes <= budget.SmallBody && held <= budget.SmallBody - bytes;
    const std::size_t limit =
        small ? budget.Total : (budget.Total > budget.SmallReserve ? budget.Total - budget.SmallReserve : 0);
    std::size_t current = inFlight.load();
    do {
        if (bytes > limit || current > limit - bytes)
            return false;
    } while (!inFlight.compare_exchange_weak(current, current + bytes));
    return true;
}

void ReleasePageBytes(std::size_t bytes) {
    inFlight.fetch_sub(bytes);
}

std::size_t PageBytesInFlight() {
    return inFlight.load();
}

TPageLease& TPageLease::operator=(TPageLease&& other) noexcept {
    if (this != &other) {
        Release();
        bytes_ = other.bytes_;
        other.bytes_ = 0;
    }
    return *this;
}

void TPageLease::Release() {
    ReleasePageBytes(bytes_);
    bytes_ = 0;
}

TPageBudget CurrentPageBudget() {
    std::lock_guard lock(BudgetLock());
    return Budget();
}

TPageBudget SetPageBudget(TPageBudget budget) {
    std::lock_guard lock(BudgetLock());
    const TPageBudget before = Budget();
    Budget() = budget;
    return before;
}

}  // namespace vexo
