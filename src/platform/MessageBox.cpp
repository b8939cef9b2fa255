#include "platform/MessageBox.h"

#include <utility>

namespace vexo {

namespace {
// Used on the UI thread only, like the boxes themselves.
TMessageBoxHandler& Handler() {
    static TMessageBoxHandler handler;
    return handler;
}
}  // namespace

int ShowMessageBox(const std::string& text, const std::string& caption, int kind) {
    if (kind < kBoxInformation || kind > kBoxQuestion || !Handler())
        return 0;
    const int answer = Handler()(text, caption, kind);
    if (kind != kBoxQuestion)
        return 0;
    return answer == kAnswerOk ? kAnswerOk : kAnswerCancel;
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler) {
    return std::exchange(Handler(), std::move(handler));
}

}  // namespace vexo
