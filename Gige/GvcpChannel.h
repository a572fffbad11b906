#pragma once

#include "Gige/GenicamXml.h"
#include "Gige/GvcpTransaction.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace XEVLibrary {

/**
 * The control channel of one opened GigE camera: register and memory access
 * over GVCP, the exclusive control privilege kept alive by a heartbeat, and
 * the camera's GenICam description downloaded and parsed at construction.
 *
 * Threads: callers block in the register and memory operations; the
 * channel's own io thread sends, times out, resends and receives. One
 * receive loop hands each acknowledge to the transaction whose request id it
 * carries, so a stale or duplicate acknowledge is never taken for the answer
 * of another command, and the heartbeat may run beside a caller's command.
 * Callers' commands are serialised among themselves.
 *
 * A camera that leaves a register command unanswered through every resend
 * is lost: the waiting caller gets an XEVException, the lost-camera handler
 * runs once (on the io thread) and the io thread ends; every later command
 * fails at once with an XEVException. No operation waits forever.
 */
class GvcpChannel {
public:
    using LostHandler = std::function<void()>;

    static constexpr uint32_t ControlPrivilegeRegister = 0x0A00;
    static constexpr uint32_t HeartbeatTimeoutRegister = 0x0938;
    static constexpr uint32_t FirstUrlRegister = 0x0200;
    static constexpr unsigned DefaultHeartbeatTimeoutMs = 3000;
    /// The longest WaitNiosNotBusy() waits before it gives up.
    static constexpr std::chrono::seconds BusyLimit{30};

    /// Opens the channel from @p localIp to @p cameraIp: takes control,
    /// starts the heartbeat, downloads and parses the description, stops any
    /// acquisition and programs the heartbeat timeout. A camera that cannot
    /// be reached or controlled leaves the channel closed (IsOpen() false);
    /// a description that cannot be read raises a critical XEVException.
    GvcpChannel(const std::string& localIp, const std::string& cameraIp,
                LostHandler onCameraLost = {});
    ~GvcpChannel();
    GvcpChannel(const GvcpChannel&) = delete;
    GvcpChannel& operator=(const GvcpChannel&) = delete;

    bool Open();
    /// Releases control and ends the heartbeat.
    void Close();
    bool IsOpen() const { return m_open; }
    bool GrantExclusiveAccess(bool exclusive);
    /// Moves the next heartbeat to half the heartbeat timeout from now.
    void RetriggerHeartbeat();

    bool SendRegister(uint32_t address, uint32_t value);
    bool SendRegister(const std::string& feature, uint32_t value);
    bool SendCommand(const std::string& command, uint32_t value);
    bool SendRegisterWithTimeout(uint32_t address, uint32_t value, unsigned timeoutMs);
    bool SendRegisterWithTimeout(const std::string& feature, uint32_t value, unsigned timeoutMs);
    uint32_t ReadRegister(uint32_t address);
    uint32_t ReadRegister(const std::string& feature);
    std::map<uint32_t, uint32_t> ReadRegisters(const std::vector<uint32_t>& addresses);
    std::string ReadStringRegister(uint32_t address);
    std::string ReadStringRegister(const std::string& feature);
    std::map<uint32_t, std::string> ReadStringRegisters(const std::vector<uint32_t>& addresses);
    /// Raises XEVException "WriteMem is limited to 536 bytes" beyond that.
    bool SendMemRegister(uint32_t address, const std::string& data);
    bool SendMemRegister(const std::string& feature, const std::string& data);

    /// The unzipped description file, or empty (with the reason as a
    /// diagnostic).
    void GetDeviceDescriptionFile(std::vector<char>& xml);

    bool SetStreamDestinationIp(unsigned channel, const std::string& ip);
    bool SetStreamPort(unsigned channel, unsigned short port);
    bool SetPacketSize(unsigned channel, unsigned short size, bool fireTestPacket);
    unsigned GetPacketSize(unsigned channel);
    bool SetInterPacketDelay(unsigned channel, unsigned short delay);

    bool Start();
    bool Stop();
    bool SetMultiFrame(unsigned count);
    /// Waits until "NIOS_is_BUSY" reads 0 in its low 16 bits; XEVException
    /// after BusyLimit.
    void WaitNiosNotBusy();

    const GenicamXml& Genicam() const { return m_xml; }
    unsigned HeartbeatTimeoutMs() const { return m_heartbeatTimeoutMs; }

private:
    void Connect(const std::string& localIp);
    /// Closes the socket and joins the io thread.
    void Shutdown();
    /// Runs @p transaction on the io thread and waits for its outcome; raises
    /// its error, if any, on the caller's thread.
    template <class Transaction, class Result>
    GvcpOutcome<Result> Transact(const std::shared_ptr<Transaction>& transaction);
    template <class Transaction, class Result>
    Result TransactValue(const std::shared_ptr<Transaction>& transaction);
    bool Write(uint32_t address, uint32_t value, std::chrono::milliseconds timeout);
    std::string ReadMem(uint32_t address, bool textMode);

    // io thread
    void Run();
    void Attempt(const std::shared_ptr<GvcpTransaction>& transaction);
    void Receive();
    void Dispatch(std::size_t size);
    void Retry(const std::shared_ptr<GvcpTransaction>& transaction);
    void Exhausted(const std::shared_ptr<GvcpTransaction>& transaction);
    void OnRefreshHeartbeat(const boost::system::error_code& error);
    void WaitHeartbeat();

    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_work;
    boost::asio::ip::udp::socket m_socket;
    boost::asio::steady_timer m_heartbeat;
    std::string m_cameraIp;
    LostHandler m_onCameraLost;
    std::mutex m_lock; // one caller command at a time
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_ioEnded{false};
    std::atomic<unsigned> m_heartbeatTimeoutMs{DefaultHeartbeatTimeoutMs};
    GenicamXml m_xml;

    // io thread only
    std::map<uint16_t, std::shared_ptr<GvcpTransaction>> m_pending;
    std::array<uint8_t, 1024> m_ack{};
    std::shared_ptr<ReadRegTransaction> m_heartbeatRead;
    std::thread m_thread;
};

} // namespace XEVLibrary
