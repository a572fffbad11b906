#include "Gige/GvcpChannel.h"

#include "Gige/ByteOrder.h"
#include "Gige/CmdHeader.h"
#include "Gige/DescriptionFile.h"
#include "XEVException.h"
#include "device/Diagnostics.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>

namespace XEVLibrary {

namespace asio = boost::asio;
using udp = asio::ip::udp;

namespace {

constexpr std::chrono::milliseconds DefaultWriteTimeout{100};
constexpr uint32_t StreamPortRegister = 0x0D00;
constexpr uint32_t PacketSizeRegister = 0x0D04;
constexpr uint32_t PacketDelayRegister = 0x0D08;
constexpr uint32_t DestinationRegister = 0x0D18;
constexpr uint32_t ChannelStride = 0x40;

} // namespace

GvcpChannel::GvcpChannel(const std::string& localIp, const std::string& cameraIp,
                         LostHandler onCameraLost)
    : m_work(asio::make_work_guard(m_io)), m_socket(m_io), m_heartbeat(m_io), m_cameraIp(cameraIp),
      m_onCameraLost(std::move(onCameraLost)) {
    m_thread = std::thread([this] { Run(); });
    try {
        Connect(localIp);
    } catch (...) {
        Shutdown();
        throw;
    }
}

void GvcpChannel::Connect(const std::string& localIp) {
    const std::string& cameraIp = m_cameraIp;
    boost::system::error_code error;
    const auto local = asio::ip::make_address_v4(localIp, error);
    const auto camera = asio::ip::make_address_v4(cameraIp, error);
    if (!error) {
        m_socket.open(udp::v4(), error);
        if (!error)
            m_socket.bind(udp::endpoint(local, 0), error);
        if (!error)
            m_socket.connect(udp::endpoint(camera, Gvcp::Port), error);
    }
    if (error) {
        detail::inform("GVCP1: Unable to connect to " + cameraIp);
        return;
    }
    asio::post(m_io, [this] { Receive(); });
    if (!Open()) {
        detail::inform("GVCP: Unable to connect to " + cameraIp);
        asio::post(m_io, [this] { m_socket.close(); });
        return;
    }
    m_heartbeatTimeoutMs = DefaultHeartbeatTimeoutMs;
    asio::post(m_io, [this] {
        m_heartbeat.expires_after(std::chrono::milliseconds(m_heartbeatTimeoutMs / 2));
        WaitHeartbeat();
    });

    std::vector<char> xml;
    GetDeviceDescriptionFile(xml);
    if (xml.empty()) {
        detail::inform("Unable to load xml device description file");
        Close();
        XEVException::throwCriticalError("Unable to load xml device description file");
    }
    bool parsed = false;
    try {
        parsed = m_xml.Parse(xml);
    } catch (...) {
        Close();
        throw;
    }
    if (parsed) {
        Stop();
        SendRegister("GevHeartbeatTimeout", DefaultHeartbeatTimeoutMs);
    }
}

GvcpChannel::~GvcpChannel() {
    try {
        if (m_open && !m_ioEnded)
            Close();
    } catch (const std::exception& error) {
        detail::inform(std::string("GvcpChannel::dtor() Exception: ") + error.what());
    } catch (...) {
        detail::inform("GvcpChannel::dtor() Exception: Inconnue");
    }
    Shutdown();
}

void GvcpChannel::Shutdown() {
    asio::post(m_io, [this] {
        boost::system::error_code ignored;
        m_heartbeat.cancel();
        m_socket.close(ignored);
    });
    m_work.reset();
    m_thread.join();
}

// --- Lifecycle ---------------------------------------------------------------

bool GvcpChannel::Open() {
    GrantExclusiveAccess(true);
    return m_open;
}

void GvcpChannel::Close() {
    GrantExclusiveAccess(false);
    m_open = false;
    asio::post(m_io, [this] { m_heartbeat.cancel(); });
}

bool GvcpChannel::GrantExclusiveAccess(bool exclusive) {
    bool granted = false;
    try {
        granted = SendRegister(ControlPrivilegeRegister, exclusive ? 1 : 0);
    } catch (const XEVException& error) {
        detail::inform(error.what());
    }
    if (granted)
        m_open = exclusive;
    return granted;
}

void GvcpChannel::RetriggerHeartbeat() {
    asio::post(m_io, [this] {
        if (m_open)
            m_heartbeat.expires_after(std::chrono::milliseconds(m_heartbeatTimeoutMs / 2));
    });
}

void GvcpChannel::WaitHeartbeat() {
    m_heartbeat.async_wait(
        [this](const boost::system::error_code& error) { OnRefreshHeartbeat(error); });
}

void GvcpChannel::OnRefreshHeartbeat(const boost::system::error_code& error) {
    if (!m_open || m_ioEnded)
        return;
    if (error == asio::error::operation_aborted) {
        WaitHeartbeat(); // moved by a command, or cancelled by Close (then not open)
        return;
    }
    m_heartbeat.expires_after(std::chrono::milliseconds(m_heartbeatTimeoutMs / 2));
    // One heartbeat in flight at a time; its value is not used.
    if (!m_heartbeatRead || m_pending.count(m_heartbeatRead->Id()) == 0) {
        m_heartbeatRead = std::make_shared<ReadRegTransaction>(ControlPrivilegeRegister);
        Attempt(m_heartbeatRead);
    }
    WaitHeartbeat();
}

// --- Transactions (caller side) ------------------------------------------------

template <class Transaction, class Result>
GvcpOutcome<Result> GvcpChannel::Transact(const std::shared_ptr<Transaction>& transaction) {
    auto result = transaction->Result();
    if (m_ioEnded)
        XEVException::throwError("The control channel of the camera at %s is closed.",
                                 m_cameraIp.c_str());
    asio::post(m_io, [this, transaction] { Attempt(transaction); });
    // Settled by an acknowledge, by the last time-out or when the io thread
    // ends; the loop only guards against a command posted too late to run.
    while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (m_ioEnded && result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            XEVException::throwError("The control channel of the camera at %s is closed.",
                                     m_cameraIp.c_str());
    }
    GvcpOutcome<Result> outcome = result.get();
    if (!outcome.error.empty())
        XEVException::throwError(outcome.error);
    return outcome;
}

template <class Transaction, class Result>
Result GvcpChannel::TransactValue(const std::shared_ptr<Transaction>& transaction) {
    return Transact<Transaction, Result>(transaction).value;
}

bool GvcpChannel::Write(uint32_t address, uint32_t value, std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> hold(m_lock);
    const GvcpOutcome<bool> outcome = Transact<WriteRegTransaction, bool>(
        std::make_shared<WriteRegTransaction>(address, value, timeout));
    if (outcome.refusedStatus != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "WriteRegException status: %x", outcome.refusedStatus);
        detail::inform(text);
        return false;
    }
    return outcome.value;
}

bool GvcpChannel::SendRegister(uint32_t address, uint32_t value) {
    if (address == HeartbeatTimeoutRegister)
        m_heartbeatTimeoutMs = std::max(value, 2u);
    RetriggerHeartbeat();
    return Write(address, value, DefaultWriteTimeout);
}

bool GvcpChannel::SendRegister(const std::string& feature, uint32_t value) {
    return SendRegister(static_cast<uint32_t>(m_xml.GetFeatureRegister(feature)->Address()), value);
}

bool GvcpChannel::SendCommand(const std::string& command, uint32_t value) {
    return SendRegister(static_cast<uint32_t>(m_xml.GetCommandRegister(command)->Address()), value);
}

bool GvcpChannel::SendRegisterWithTimeout(uint32_t address, uint32_t value, unsigned timeoutMs) {
    return Write(address, value, std::chrono::milliseconds(timeoutMs));
}

bool GvcpChannel::SendRegisterWithTimeout(const std::string& feature, uint32_t value,
                                          unsigned timeoutMs) {
    return SendRegisterWithTimeout(
        static_cast<uint32_t>(m_xml.GetFeatureRegister(feature)->Address()), value, timeoutMs);
}

uint32_t GvcpChannel::ReadRegister(uint32_t address) {
    RetriggerHeartbeat();
    std::lock_guard<std::mutex> hold(m_lock);
    return TransactValue<ReadRegTransaction, uint32_t>(
        std::make_shared<ReadRegTransaction>(address));
}

uint32_t GvcpChannel::ReadRegister(const std::string& feature) {
    return ReadRegister(static_cast<uint32_t>(m_xml.GetFeatureRegister(feature)->Address()));
}

std::map<uint32_t, uint32_t> GvcpChannel::ReadRegisters(const std::vector<uint32_t>& addresses) {
    std::map<uint32_t, uint32_t> values;
    for (uint32_t address : addresses)
        values.emplace(address, ReadRegister(address));
    return values;
}

std::string GvcpChannel::ReadMem(uint32_t address, bool textMode) {
    RetriggerHeartbeat();
    std::lock_guard<std::mutex> hold(m_lock);
    return TransactValue<ReadMemTransaction, std::string>(
        std::make_shared<ReadMemTransaction>(address, textMode));
}

std::string GvcpChannel::ReadStringRegister(uint32_t address) {
    return ReadMem(address, true);
}

std::string GvcpChannel::ReadStringRegister(const std::string& feature) {
    return ReadStringRegister(static_cast<uint32_t>(m_xml.GetFeatureRegister(feature)->Address()));
}

std::map<uint32_t, std::string>
GvcpChannel::ReadStringRegisters(const std::vector<uint32_t>& addresses) {
    std::map<uint32_t, std::string> values;
    for (uint32_t address : addresses)
        values.emplace(address, ReadStringRegister(address));
    return values;
}

bool GvcpChannel::SendMemRegister(uint32_t address, const std::string& data) {
    RetriggerHeartbeat();
    // Built before taking the lock: a text too long is refused here.
    auto transaction = std::make_shared<WriteMemTransaction>(address, data);
    std::lock_guard<std::mutex> hold(m_lock);
    return TransactValue<WriteMemTransaction, bool>(transaction);
}

bool GvcpChannel::SendMemRegister(const std::string& feature, const std::string& data) {
    return SendMemRegister(static_cast<uint32_t>(m_xml.GetFeatureRegister(feature)->Address()),
                           data);
}

// --- Description file ----------------------------------------------------------

void GvcpChannel::GetDeviceDescriptionFile(std::vector<char>& xml) {
    xml.clear();
    const std::string url = ReadMem(FirstUrlRegister, false);
    if (url.empty()) {
        detail::inform("Unable to get Camera Description File");
        return;
    }
    DescriptionFile file;
    std::string error;
    if (!file.ParseUrl(std::string(url.c_str()), error)) {
        detail::inform(error);
        return;
    }
    std::vector<char> archive;
    archive.reserve(file.Length());
    uint16_t address = file.Address();
    while (archive.size() < file.Length()) {
        const std::string block = ReadMem(address, false);
        if (block.empty()) {
            detail::inform("Unable to get Camera Description File Block");
            return;
        }
        const std::size_t take =
            std::min<std::size_t>(file.Length() - archive.size(), block.size());
        archive.insert(archive.end(), block.begin(), block.begin() + static_cast<long>(take));
        address = static_cast<uint16_t>(address + block.size());
    }
    if (!DescriptionFile::Unzip(archive, xml, error))
        detail::inform(error);
}

// --- Stream channel and acquisition -------------------------------------------------

bool GvcpChannel::SetStreamDestinationIp(unsigned channel, const std::string& ip) {
    return SendRegister(DestinationRegister + ChannelStride * channel,
                        ByteOrder::Ipv4FromString(ip));
}

bool GvcpChannel::SetStreamPort(unsigned channel, unsigned short port) {
    return SendRegister(StreamPortRegister + ChannelStride * channel, port);
}

bool GvcpChannel::SetPacketSize(unsigned channel, unsigned short size, bool fireTestPacket) {
    return SendRegister(PacketSizeRegister + ChannelStride * channel,
                        size | (fireTestPacket ? 0xC0000000u : 0x40000000u));
}

unsigned GvcpChannel::GetPacketSize(unsigned channel) {
    return ReadRegister(PacketSizeRegister + ChannelStride * channel);
}

bool GvcpChannel::SetInterPacketDelay(unsigned channel, unsigned short delay) {
    return SendRegister(PacketDelayRegister + ChannelStride * channel, delay);
}

bool GvcpChannel::Start() {
    const Command* start = m_xml.GetCommand(std::string("AcquisitionStart"));
    if (!start)
        return false;
    const uint32_t address =
        static_cast<uint32_t>(m_xml.GetCommandRegister("AcquisitionStart")->Address());
    const uint32_t value = static_cast<uint32_t>(start->CommandValue());
    if (address == 0 && value == 0)
        return false;
    return SendRegister(address, value);
}

bool GvcpChannel::Stop() {
    if (!m_xml.CommandExist("AcquisitionStop")) {
        detail::inform("No Stop Command");
        return false;
    }
    const Command* stop = m_xml.GetCommand(std::string("AcquisitionStop"));
    return SendRegister(
        static_cast<uint32_t>(m_xml.GetCommandRegister("AcquisitionStop")->Address()),
        static_cast<uint32_t>(stop->CommandValue()));
}

bool GvcpChannel::SetMultiFrame(unsigned count) {
    return SendRegister("AcquisitionFrameCount", count);
}

void GvcpChannel::WaitNiosNotBusy() {
    const uint32_t address =
        static_cast<uint32_t>(m_xml.GetFeatureRegister("NIOS_is_BUSY")->Address());
    const auto giveUp = std::chrono::steady_clock::now() + BusyLimit;
    while ((ReadRegister(address) & 0xFFFF) != 0) {
        if (std::chrono::steady_clock::now() >= giveUp)
            XEVException::throwError("The camera at %s stayed busy for %d s.", m_cameraIp.c_str(),
                                     static_cast<int>(BusyLimit.count()));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// --- io thread -------------------------------------------------------------------------

void GvcpChannel::Run() {
    try {
        m_io.run();
    } catch (const std::exception& error) {
        detail::inform(std::string("GvcpChannel::Run() Exception: ") + error.what());
    } catch (...) {
        detail::inform("GvcpChannel::Run() Exception: Unknown");
    }
    m_ioEnded = true;
    // Nobody is left to answer: release every waiting caller.
    for (auto& entry : m_pending)
        entry.second->Abandon("The control channel of the camera at " + m_cameraIp + " is closed.");
    m_pending.clear();
}

void GvcpChannel::Attempt(const std::shared_ptr<GvcpTransaction>& transaction) {
    m_pending[transaction->Id()] = transaction;
    if (!transaction->timer)
        transaction->timer = std::make_unique<asio::steady_timer>(m_io);
    m_socket.async_send(
        asio::buffer(transaction->Command()),
        [this, transaction](const boost::system::error_code& error, std::size_t) {
            if (error) {
                detail::inform(std::string(transaction->Name()) +
                               "Transaction OnAsyncSended error: " + error.message());
                m_pending.erase(transaction->Id());
                transaction->Abandon("Cannot send to the camera at " + m_cameraIp + ": " +
                                     error.message());
                return;
            }
            transaction->timer->expires_after(transaction->Timeout());
            transaction->timer->async_wait([this, transaction](const boost::system::error_code& e) {
                if (e == asio::error::operation_aborted ||
                    m_pending.count(transaction->Id()) == 0 ||
                    m_pending[transaction->Id()] != transaction)
                    return; // answered meanwhile
                m_pending.erase(transaction->Id());
                Retry(transaction);
            });
        });
}

void GvcpChannel::Retry(const std::shared_ptr<GvcpTransaction>& transaction) {
    if (!transaction->CanResend()) {
        Exhausted(transaction);
        return;
    }
    transaction->CountResend();
    transaction->Renew();
    Attempt(transaction);
}

void GvcpChannel::Exhausted(const std::shared_ptr<GvcpTransaction>& transaction) {
    // A register command unanswered through every resend: the camera is gone.
    // The channel closes before the caller hears of it; the lost-camera
    // handler runs after the caller is released, since it may need what the
    // caller holds.
    const bool lost = transaction->LosesCameraWhenUnanswered();
    if (lost)
        m_open = false;
    transaction->GiveUp();
    if (!lost)
        return;
    detail::inform("system error " +
                   asio::error::make_error_code(asio::error::operation_aborted).message());
    // From here every command fails at once, also those the handler makes
    // while it stops the device: none of them could be sent from this thread.
    m_ioEnded = true;
    if (m_onCameraLost)
        m_onCameraLost();
    m_io.stop();
}

void GvcpChannel::Receive() {
    m_socket.async_receive(asio::buffer(m_ack),
                           [this](const boost::system::error_code& error, std::size_t size) {
                               if (error == asio::error::operation_aborted || !m_socket.is_open())
                                   return;
                               if (!error)
                                   Dispatch(size);
                               Receive();
                           });
}

void GvcpChannel::Dispatch(std::size_t size) {
    if (size < 8)
        return;
    const uint16_t id = ByteOrder::Load16(&m_ack[6]);
    const auto found = m_pending.find(id);
    if (found == m_pending.end()) {
        // A late or stale answer: the command it answers was resent or settled.
        for (const auto& entry : m_pending)
            if (entry.second != m_heartbeatRead)
                detail::inform(std::string(entry.second->Name()) + " ack.Id " + std::to_string(id) +
                               " and cmd.Id " + std::to_string(entry.first) +
                               " mismatch reg = " + std::to_string(entry.second->Address()));
        return;
    }
    const std::shared_ptr<GvcpTransaction> transaction = found->second;
    switch (transaction->Judge(m_ack.data(), size)) {
    case GvcpTransaction::Verdict::Done:
        m_pending.erase(found);
        transaction->timer->cancel();
        break;
    case GvcpTransaction::Verdict::Resend:
        m_pending.erase(found);
        transaction->timer->cancel();
        Retry(transaction);
        break;
    case GvcpTransaction::Verdict::KeepWaiting:
        break;
    }
}

} // namespace XEVLibrary
