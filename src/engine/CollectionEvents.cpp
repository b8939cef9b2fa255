#include "engine/CollectionEvents.h"

namespace vexo {

namespace {

// The object a notification carries, or nullptr when it carries another kind or none.
template <class T>
const T* Carried(const TNotification& notification) {
    const auto* pointer = std::get_if<const T*>(&notification.LParam);
    return pointer == nullptr ? nullptr : *pointer;
}

}  // namespace

void HandleCollectionNotification(TKeyListInfo& store, const TNotification& notification,
                                  const TCollectionEvents& events) {
    if (notification.Message != kMsgCaiji)
        return;
    switch (notification.WParam) {
        case kCaijiRecord: {
            const TComPanyInfo* record = Carried<TComPanyInfo>(notification);
            if (record == nullptr)
                return;
            if (events.CompanyTaken)
                events.CompanyTaken(*record);
            const TAddCompanyResult stored = store.AddCompany(record->Keyword, *record);
            if (stored.Outcome == TStoreOutcome::Failed && events.CompanyLost)
                events.CompanyLost(*record, stored.Error);
            break;
        }
        case kCaijiStatus: {
            const TCaiJiInfo* info = Carried<TCaiJiInfo>(notification);
            if (info != nullptr && events.Status)
                events.Status(*info);
            break;
        }
        case kCaijiPageDone: {
            const TCaiJiInfo* info = Carried<TCaiJiInfo>(notification);
            const int engine = info == nullptr ? -1 : EngineOfSource(info->source);
            if (engine < 0)
                return;
            if (store.SavePageCursor(info->keyword, info->PageCount, engine)) {
                if (events.PageSaved)
                    events.PageSaved(*info);
            } else if (events.IdlePages) {
                events.IdlePages(info->keyword);
            }
            break;
        }
        case kCaijiStatusLine: {
            const std::string* text = Carried<std::string>(notification);
            if (text != nullptr && events.StatusLine)
                events.StatusLine(*text);
            break;
        }
        default:
            break;
    }
}

}  // namespace vexo
