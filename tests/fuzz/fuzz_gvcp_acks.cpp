// Feeds arbitrary datagrams to every kind of control transaction as the
// acknowledge of its command: whatever the camera sends, a transaction
// settles with a value or an error, or waits for another datagram.
#include "Gige/GvcpTransaction.h"
#include "XEVManager.h"

#include <cstdint>
#include <memory>
#include <string>

namespace {

volatile std::size_t sink;

void Take(std::size_t value) {
    sink = sink + value;
}

template <class Transaction>
void Feed(const std::shared_ptr<Transaction>& transaction, const uint8_t* data, std::size_t size) {
    auto result = transaction->Result();
    const auto verdict = transaction->Judge(data, size);
    if (verdict != XEVLibrary::GvcpTransaction::Verdict::Done)
        transaction->GiveUp();
    // An error is a valid outcome; a transaction left unsettled is not.
    if (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        __builtin_trap();
    Take(result.get().error.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        XEVLibrary::XEVManager::setDiagnosticsHandler([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    using namespace XEVLibrary;
    Feed(std::make_shared<ReadRegTransaction>(0x0A00), data, size);
    Feed(std::make_shared<WriteRegTransaction>(0x0A00, 1, std::chrono::milliseconds(100)), data,
         size);
    Feed(std::make_shared<ReadMemTransaction>(0x0200, size % 2 == 0), data, size);
    Feed(std::make_shared<WriteMemTransaction>(0x00E8, "name"), data, size);
    return 0;
}
