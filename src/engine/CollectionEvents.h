// What every front end does with its collectors' notifications (message 4035): a taken company is offered to the
// store, a finished page's cursor is saved, and what the store decides is reported, so the window and vexo-cli
// differ only in how they show it and how they stop a task.
#pragma once

#include <functional>
#include <string>

#include "engine/Notify.h"
#include "store/KeyListInfo.h"

namespace vexo {

struct TCollectionEvents {
    // A site thread took a company; the store is offered it right after.
    std::function<void(const TComPanyInfo& record)> CompanyTaken;
    // The store failed to keep the company (and held its engine's cursor back at its page): stop the task, so the
    // next start collects it again.
    std::function<void(const TComPanyInfo& record, const std::string& error)> CompanyLost;
    // A collector's progress text.
    std::function<void(const TCaiJiInfo& info)> Status;
    // A finished page's cursor was saved.
    std::function<void(const TCaiJiInfo& info)> PageSaved;
    // The fourth finished page in a row brought no new company: stop the task.
    std::function<void(const std::string& keyword)> IdlePages;
    // A site thread's status text.
    std::function<void(const std::string& text)> StatusLine;
};

// Carries out the store's part of a collector notification and reports it through the events (any may be empty).
// Other messages, and notifications without their object, do nothing. UI thread only.
void HandleCollectionNotification(TKeyListInfo& store, const TNotification& notification,
                                  const TCollectionEvents& events);

}  // namespace vexo
