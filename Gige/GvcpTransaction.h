#pragma once

#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace XEVLibrary {

/**
 * How a transaction ended, as its caller receives it: a value, or the text
 * of the error the caller raises, or (for writes) the error status the
 * camera kept answering. Errors travel as texts, and the caller raises them
 * on its own thread, so no exception object is shared between threads.
 */
template <class T>
struct GvcpOutcome {
    T value{};
    std::string error;
    uint16_t refusedStatus = 0;
};

/**
 * One GVCP command in flight and the wait for its acknowledge: the command
 * bytes, the attempts made (a resend draws a fresh request id), the
 * per-attempt time-out and the promise the caller waits on.
 *
 * The control channel runs every transaction on its io thread and hands it
 * the acknowledges that carry its current request id; the kind decides what
 * an acknowledge means. Every transaction settles its promise exactly once:
 * with a result, or with an error when the camera never answered or the
 * channel ended, so that no caller waits forever.
 */
class GvcpTransaction {
public:
    /// Resends after the first attempt (11 attempts in all).
    static constexpr unsigned MaxResends = 10;

    enum class Verdict {
        Done,       ///< settled
        Resend,     ///< try again with a fresh id (or give up when no resend is left)
        KeepWaiting ///< not the answer yet; wait for another datagram
    };

    GvcpTransaction(std::vector<uint8_t> command, std::chrono::milliseconds timeout,
                    uint32_t address);
    virtual ~GvcpTransaction() = default;
    GvcpTransaction(const GvcpTransaction&) = delete;
    GvcpTransaction& operator=(const GvcpTransaction&) = delete;

    /// "ReadReg", "WriteReg", "ReadMem" or "WriteMem", for the diagnostics.
    virtual const char* Name() const = 0;
    /// Judges an acknowledge that carries this transaction's request id.
    virtual Verdict Judge(const uint8_t* ack, std::size_t size) = 0;
    /// Settles the transaction when no acknowledge came after the last attempt.
    virtual void GiveUp() = 0;
    /// True when a command of this kind left unanswered means the camera is lost.
    virtual bool LosesCameraWhenUnanswered() const = 0;
    /// Settles the transaction with the error text @p error unless it is settled.
    virtual void Abandon(const std::string& error) = 0;

    uint16_t Id() const;
    /// Draws a fresh request id into the command for a resend.
    void Renew();
    const std::vector<uint8_t>& Command() const { return m_command; }
    std::chrono::milliseconds Timeout() const { return m_timeout; }
    uint32_t Address() const { return m_address; }
    unsigned Resends() const { return m_resends; }
    bool CanResend() const { return m_resends < MaxResends; }
    void CountResend() { ++m_resends; }

    /// The attempt's deadline, created on the io thread.
    std::unique_ptr<boost::asio::steady_timer> timer;

protected:
    /// True the first time only: the caller settles its promise then.
    bool Settle();

private:
    std::vector<uint8_t> m_command;
    std::chrono::milliseconds m_timeout;
    uint32_t m_address;
    unsigned m_resends = 0;
    bool m_settled = false;
};

/// A transaction whose caller waits for a @p T: settles its promise once.
template <class T>
class GvcpTransactionOf : public GvcpTransaction {
public:
    using GvcpTransaction::GvcpTransaction;
    std::future<GvcpOutcome<T>> Result() { return m_result.get_future(); }
    void Abandon(const std::string& error) override {
        if (Settle())
            m_result.set_value({T{}, error, 0});
    }

protected:
    void Answer(T value) {
        if (Settle())
            m_result.set_value({std::move(value), std::string(), 0});
    }
    void Refuse(uint16_t status) {
        if (Settle())
            m_result.set_value({T{}, std::string(), status});
    }

private:
    std::promise<GvcpOutcome<T>> m_result;
};

/// READREG of one address: the 32-bit value at offset 8 of the acknowledge.
class ReadRegTransaction : public GvcpTransactionOf<uint32_t> {
public:
    explicit ReadRegTransaction(uint32_t address);
    const char* Name() const override { return "ReadReg"; }
    Verdict Judge(const uint8_t* ack, std::size_t size) override;
    void GiveUp() override;
    bool LosesCameraWhenUnanswered() const override { return true; }
};

/// WRITEREG of one address: true on success, false when refused; the status
/// when the camera kept answering with an error status.
class WriteRegTransaction : public GvcpTransactionOf<bool> {
public:
    WriteRegTransaction(uint32_t address, uint32_t value, std::chrono::milliseconds timeout);
    const char* Name() const override { return "WriteReg"; }
    Verdict Judge(const uint8_t* ack, std::size_t size) override;
    void GiveUp() override;
    bool LosesCameraWhenUnanswered() const override { return true; }
};

/// READMEM of 512 bytes: the data received (raw, or up to its first zero
/// byte in text mode); empty when the camera never answered.
class ReadMemTransaction : public GvcpTransactionOf<std::string> {
public:
    static constexpr uint16_t Count = 512;
    ReadMemTransaction(uint32_t address, bool textMode);
    const char* Name() const override { return "ReadMem"; }
    Verdict Judge(const uint8_t* ack, std::size_t size) override;
    void GiveUp() override;
    bool LosesCameraWhenUnanswered() const override { return false; }

private:
    bool m_textMode;
};

/// WRITEMEM of a text: true when an acknowledge arrived.
class WriteMemTransaction : public GvcpTransactionOf<bool> {
public:
    WriteMemTransaction(uint32_t address, const std::string& data);
    const char* Name() const override { return "WriteMem"; }
    Verdict Judge(const uint8_t* ack, std::size_t size) override;
    void GiveUp() override;
    bool LosesCameraWhenUnanswered() const override { return false; }
};

} // namespace XEVLibrary
