#pragma once

#include <dcmtk/dcmnet/dcmtrans.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <utility>

// What HoldOutput looks for on an association's connection.
class HeldOutput {
public:
    virtual ~HeldOutput() = default;
    virtual void Hold(bool hold) = 0;
};

// An accepted connection, plain (Base = DcmTCPConnection) or TLS
// (DcmTLSConnection), that sends small DIMSE messages at once: Nagle's
// algorithm is off for what we send, and what arrives is acknowledged at
// once, so a peer that keeps Nagle on is not stalled by our delayed ACKs.
// Linux drops the quick-ack mode on its own, so it is re-armed after every
// read. While held, what the toolkit writes (several small writes per match)
// is collected and goes out in large pieces (and, over TLS, in few records).
template <typename Base>
class TunedConnection : public Base, public HeldOutput {
public:
    template <typename... Rest>
    explicit TunedConnection(DcmNativeSocketType socket, Rest&&... rest)
        : Base(socket, std::forward<Rest>(rest)...) {
        SetOption(socket, TCP_NODELAY);
        AcknowledgeAtOnce();
    }

    ~TunedConnection() override { Flush(); }

    void Hold(bool hold) override {
        m_holding = hold;
        if (!hold) Flush();
    }

    ssize_t write(void* buf, size_t nbyte) override {
        if (m_failed) return -1;
        if (!m_holding) return Flush() ? Base::write(buf, nbyte) : -1;
        m_pending.append(static_cast<const char*>(buf), nbyte);
        if (m_pending.size() >= kBatchBytes && !Flush()) return -1;
        return static_cast<ssize_t>(nbyte);
    }

    void close() override {
        Flush();
        Base::close();
    }

    ssize_t read(void* buf, size_t nbyte) override {
        const ssize_t received = Base::read(buf, nbyte);
        AcknowledgeAtOnce();
        return received;
    }

private:
    static constexpr size_t kBatchBytes = 64 * 1024;

    static void SetOption(DcmNativeSocketType socket, int option, int value = 1) {
        ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, option, &value, sizeof value);
    }

    bool Flush() {
        size_t sent = 0;
        while (!m_failed && sent < m_pending.size()) {
            const ssize_t written = Base::write(m_pending.data() + sent, m_pending.size() - sent);
            if (written > 0)
                sent += static_cast<size_t>(written);
            else if (!(written < 0 && errno == EINTR))
                m_failed = true;
        }
        m_pending.clear();
        return !m_failed;
    }

    void AcknowledgeAtOnce() {
#ifdef TCP_QUICKACK
        if (this->getSocket() >= 0) SetOption(this->getSocket(), TCP_QUICKACK);
#endif
    }

    std::string m_pending;
    bool m_holding = false;
    bool m_failed = false;
};
