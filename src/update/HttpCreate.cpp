// The remote configuration download thread.
#include "update/HttpCreate.h"

#include <utility>

#include "net/SimpleHttp.h"

namespace vexo {

THttpCreate* THttpCreate::Create(std::string address, TResultHandler handler) {
    return TWorkerThread::Start(std::make_unique<THttpCreate>(std::move(address), std::move(handler)));
}

THttpCreate::THttpCreate(std::string address, TResultHandler handler)
    : address_(std::move(address)), handler_(std::move(handler)) {}

void THttpCreate::Execute() {
    // A failure leaves the body empty; the handler tells an empty body from a configuration.
    if (!SimpleGetStream(address_, body_))
        body_.clear();
    if (handler_)
        SendToUi([this] { handler_(body_); });
    body_.clear();
}

}  // namespace vexo
