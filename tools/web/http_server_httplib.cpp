#include "tools/web/http_server.h"

// First: on Windows it takes in Winsock, before anything else takes in
// <windows.h> without it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <httplib.h>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#if CHRONAVEL_WEB_CONFIG
#include <filesystem>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <strings.h>
#endif

// Connections are accepted, and their request heads read, by one thread
// that polls them all with a deadline for the whole head: a client that
// trickles its request a byte at a time is cut off when its time is up,
// however steadily it sends. Only complete requests reach the workers, so
// no number of slow clients can hold them. The library routes and writes
// the answers; its own accepting loop, whose time-out applies to each
// receive rather than to the request, is not used. A TLS handshake is made
// by the same thread within the same deadline, so a handshake that
// trickles is cut like a head that trickles.
//
// The same on Windows, over Winsock; there the build has no TLS nor
// passwords (CHRONAVEL_WEB_CONFIG unset), as no OpenSSL nor libcrypt is
// built for it.

namespace chronavel::ctl {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest request head taken, as the library's own limit.
constexpr size_t kHeadMax = 8192;
// Connections held at once while their heads arrive or their close
// lingers; past that the oldest is let go.
constexpr size_t kHeldMax = 128;
// How long a finished connection is kept to read away what its client
// still sends (a refused body), so that the close does not reset the
// connection under the answer.
constexpr milliseconds kLinger(500);

// Sockets as each system has them: Winsock's handles, codes and calls, or
// descriptors and errno. The server below speaks only these. Every socket
// is non-blocking.
using Socket = socket_t;
constexpr Socket kNoSocket = INVALID_SOCKET;

#ifdef _WIN32
using PollEntry = WSAPOLLFD;
constexpr int kWouldBlock = WSAEWOULDBLOCK;
constexpr int kInterrupted = WSAEINTR;
constexpr int kAddressInUse = WSAEADDRINUSE;
constexpr int kNotHere = WSAEADDRNOTAVAIL;
constexpr int kNoFamily = WSAEAFNOSUPPORT;
constexpr int kNoProtocol = WSAEPROTONOSUPPORT;

int LastError()
{
    return WSAGetLastError();
}
bool OutOfResources(int err)
{
    return err == WSAEMFILE || err == WSAENOBUFS;
}
std::string ErrorText(int err)
{
    // A port in an excluded range (Hyper-V reserves some), or held with
    // SO_EXCLUSIVEADDRUSE by another program.
    if (err == WSAEACCES)
        return "the system refuses that port to this program";
    return "Winsock error " + std::to_string(err);
}
int Poll(PollEntry* entries, size_t n, int ms)
{
    return WSAPoll(entries, static_cast<ULONG>(n), ms);
}
void CloseSocket(Socket s)
{
    closesocket(s);
}
void StopSending(Socket s)
{
    shutdown(s, SD_SEND);
}
ssize_t SendSome(Socket s, const char* data, size_t size)
{
    return send(s, data, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
}
ssize_t ReceiveSome(Socket s, char* data, size_t size)
{
    return recv(s, data, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
}
bool NonBlocking(Socket s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
Socket NewSocket(int family)
{
    const Socket s = socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s != kNoSocket && !NonBlocking(s)) {
        closesocket(s);
        return kNoSocket;
    }
    return s;
}
Socket AcceptOne(Socket listener)
{
    const Socket s = accept(listener, nullptr, nullptr);
    if (s != kNoSocket && !NonBlocking(s)) {
        closesocket(s);
        return kNoSocket;
    }
    return s;
}
// Windows lets a listener bind beside its own closing connections as it
// is; its SO_REUSEADDR would let a second program take the port over.
void AllowRebind(Socket) {}
// Winsock raises no signal.
void HoldBackSigpipe() {}

// A connected pair, for one thread to wake another's poll: WSAPoll takes
// sockets only, so this is a loopback connection where elsewhere it is a
// socketpair. Its far end is checked to be this one: another program could
// connect to the listener in the moment it is open.
bool SocketPair(Socket pair[2])
{
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof at;
    Socket listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Socket ends[2] = {kNoSocket, socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    bool ok = listener != kNoSocket && ends[1] != kNoSocket &&
              bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len) == 0 &&
              connect(ends[1], reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
              (ends[0] = accept(listener, nullptr, nullptr)) != kNoSocket;
    if (ok) {
        sockaddr_in mine{}, theirs{};
        int mine_len = sizeof mine, theirs_len = sizeof theirs;
        ok = getsockname(ends[1], reinterpret_cast<sockaddr*>(&mine), &mine_len) == 0 &&
             getpeername(ends[0], reinterpret_cast<sockaddr*>(&theirs), &theirs_len) == 0 &&
             mine.sin_port == theirs.sin_port && mine.sin_addr.s_addr == theirs.sin_addr.s_addr &&
             NonBlocking(ends[0]) && NonBlocking(ends[1]);
    }
    if (listener != kNoSocket)
        closesocket(listener);
    if (!ok) {
        for (Socket s : ends)
            if (s != kNoSocket)
                closesocket(s);
        return false;
    }
    pair[0] = ends[0];
    pair[1] = ends[1];
    return true;
}

// Winsock taken up for as long as a server lives.
class SocketLibrary {
public:
    SocketLibrary()
    {
        WSADATA data;
        up_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~SocketLibrary()
    {
        if (up_)
            WSACleanup();
    }
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

private:
    bool up_ = false;
};
#else
using PollEntry = pollfd;
constexpr int kWouldBlock = EAGAIN;
constexpr int kInterrupted = EINTR;
constexpr int kAddressInUse = EADDRINUSE;
constexpr int kNotHere = EADDRNOTAVAIL;
constexpr int kNoFamily = EAFNOSUPPORT;
constexpr int kNoProtocol = EPROTONOSUPPORT;

int LastError()
{
    return errno;
}
bool OutOfResources(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}
std::string ErrorText(int err)
{
    return std::strerror(err);
}
int Poll(PollEntry* entries, size_t n, int ms)
{
    return poll(entries, n, ms);
}
void CloseSocket(Socket s)
{
    close(s);
}
void StopSending(Socket s)
{
    shutdown(s, SHUT_WR);
}
// Never SIGPIPE: a client gone is an error to the one sending.
ssize_t SendSome(Socket s, const char* data, size_t size)
{
    return send(s, data, size, MSG_NOSIGNAL);
}
ssize_t ReceiveSome(Socket s, char* data, size_t size)
{
    return recv(s, data, size, 0);
}
Socket NewSocket(int family)
{
    return socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}
Socket AcceptOne(Socket listener)
{
    return accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}
// A restart may take the address back from its own closing connections,
// never from a listener: no SO_REUSEPORT, so a second daemon (or any other
// program) on it fails to listen instead of sharing the scrapes.
void AllowRebind(Socket s)
{
    const int yes = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}
// TLS writes go through write(2), which raises SIGPIPE on a connection the
// client closed: the server's own threads hold it back, and get EPIPE.
void HoldBackSigpipe()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}
bool SocketPair(Socket pair[2])
{
    return socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0;
}
struct SocketLibrary {};
#endif

bool Retry(int err)
{
    return err == kWouldBlock || err == kInterrupted;
}

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// Ready (or failed, which the next call says), or false when the deadline
// passed first or cut became readable (the server is stopping).
bool WaitFor(Socket s, short events, Clock::time_point deadline, Socket cut)
{
    for (;;) {
        PollEntry p[2] = {{s, events, 0}, {cut, POLLIN, 0}};
        const int n = Poll(p, 2, MsLeft(deadline));
        if (n > 0)
            return p[1].revents == 0;
        if (n == 0 || LastError() != kInterrupted)
            return false;
    }
}

#if CHRONAVEL_WEB_CONFIG
using Session = SSL;
using SessionContext = SSL_CTX;
#else
// No TLS in this build: no connection has a session, so nothing below is
// ever given one.
struct Session;
struct SessionContext;
#endif
using Tls = std::shared_ptr<Session>;

// The face as one configuration makes it: TLS (or none) and the users.
struct Face {
    std::shared_ptr<SessionContext> Ctx;
    std::map<std::string, std::string> Users;
    std::vector<std::pair<std::string, std::string>> Headers;
};

#if CHRONAVEL_WEB_CONFIG
Tls NewTls(SessionContext* ctx, Socket fd)
{
    Tls tls(SSL_new(ctx), SSL_free);
    if (tls && SSL_set_fd(tls.get(), fd) != 1)
        tls.reset();
    return tls;
}

// What one TLS call that did not complete waits for: POLLIN, POLLOUT, or 0
// when the connection is finished.
short TlsWants(Session* tls, int r)
{
    switch (SSL_get_error(tls, r)) {
    case SSL_ERROR_WANT_READ:
        return POLLIN;
    case SSL_ERROR_WANT_WRITE:
        return POLLOUT;
    default:
        return 0;
    }
}

// Whether a call that finished the connection found it closed in order.
bool TlsClosed(Session* tls, int r)
{
    return SSL_get_error(tls, r) == SSL_ERROR_ZERO_RETURN;
}

int TlsAccept(Session* tls)
{
    ERR_clear_error();
    return SSL_accept(tls);
}

int TlsRead(Session* tls, char* data, size_t size)
{
    ERR_clear_error();
    return SSL_read(tls, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
}

int TlsWrite(Session* tls, const char* data, size_t size)
{
    ERR_clear_error();
    return SSL_write(tls, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
}

bool TlsPending(Session* tls)
{
    return SSL_pending(tls) > 0;
}

// close_notify, if the socket takes it now.
void TlsClose(Session* tls)
{
    ERR_clear_error();
    SSL_shutdown(tls);
}

std::string TlsError()
{
    std::string why;
    while (const unsigned long e = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(e, text, sizeof text);
        why = text; // the last is the nearest to the cause
    }
    return why.empty() ? "unknown reason" : why;
}

// A file TLS is to read, or why it cannot be: said before OpenSSL's own
// words, which do not name the file.
std::string Readable(const char* what, const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec))
        return std::string(what) + " " + path + ": no such file";
    if (access(path.c_str(), R_OK) != 0)
        return std::string(what) + " " + path + ": " + std::strerror(errno);
    return "";
}

// Accepts any certificate the client shows: for the client auth types that
// ask for one without verifying it.
extern "C" int AnyCertificate(int, X509_STORE_CTX*)
{
    return 1;
}

std::shared_ptr<const Face> MakeFace(const WebConfig* web, std::string* error)
{
    auto face = std::make_shared<Face>();
    if (!web)
        return face;
    face->Users = web->Users;
    face->Headers = web->Headers;
    if (!web->Tls())
        return face;
    ERR_clear_error();
    std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!ctx) {
        *error = "TLS: " + TlsError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), web->MinVersion);
    SSL_CTX_set_max_proto_version(ctx.get(), web->MaxVersion);
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION);
    for (const auto& [what, path] :
         {std::pair<const char*, const std::string&>{"cert_file", web->CertFile},
          {"key_file", web->KeyFile}}) {
        if (std::string why = Readable(what, path); !why.empty()) {
            *error = why;
            return nullptr;
        }
    }
    if (SSL_CTX_use_certificate_chain_file(ctx.get(), web->CertFile.c_str()) != 1) {
        *error =
            "cert_file " + web->CertFile + " holds no usable PEM certificate (" + TlsError() + ")";
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx.get(), web->KeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        if (ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH) {
            *error = "key_file " + web->KeyFile + " is not the key of cert_file " + web->CertFile;
            return nullptr;
        }
        *error =
            "key_file " + web->KeyFile + " holds no usable PEM private key (" + TlsError() + ")";
        return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx.get()) != 1) {
        *error = "key_file " + web->KeyFile + " is not the key of cert_file " + web->CertFile;
        return nullptr;
    }
    if (!web->ClientCaFile.empty()) {
        if (std::string why = Readable("client_ca_file", web->ClientCaFile); !why.empty()) {
            *error = why;
            return nullptr;
        }
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(web->ClientCaFile.c_str());
        if (!names ||
            SSL_CTX_load_verify_locations(ctx.get(), web->ClientCaFile.c_str(), nullptr) != 1) {
            if (names)
                sk_X509_NAME_pop_free(names, X509_NAME_free);
            *error = "client_ca_file " + web->ClientCaFile + " holds no usable PEM certificate (" +
                     TlsError() + ")";
            return nullptr;
        }
        SSL_CTX_set_client_CA_list(ctx.get(), names);
    }
    const std::string& type = web->ClientAuth;
    const int ask = type == "NoClientCert" ? SSL_VERIFY_NONE : SSL_VERIFY_PEER;
    const int require = type.rfind("Require", 0) == 0 ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0;
    const bool verify = type.find("Verify") != std::string::npos;
    SSL_CTX_set_verify(ctx.get(), ask | require, verify ? nullptr : &AnyCertificate);
    face->Ctx = std::move(ctx);
    return face;
}

// The name and password of a "Basic" Authorization header.
bool BasicCredentials(const std::string& header, std::string& user, std::string& password)
{
    static const std::string kBasic = "Basic ";
    if (header.size() <= kBasic.size() || header.size() > 2048 ||
        strncasecmp(header.c_str(), kBasic.c_str(), kBasic.size()) != 0)
        return false;
    std::string coded = header.substr(kBasic.size());
    while (!coded.empty() && coded.back() == ' ')
        coded.pop_back();
    if (coded.empty() || coded.size() % 4 != 0)
        return false;
    std::string plain(coded.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(plain.data()),
                                  reinterpret_cast<const unsigned char*>(coded.data()),
                                  static_cast<int>(coded.size()));
    if (n < 0)
        return false;
    // The decoder counts the padding's bytes too.
    const size_t pad = coded.size() - coded.find_last_not_of('=') - 1;
    plain.resize(static_cast<size_t>(n) - std::min<size_t>(pad, 2));
    const size_t colon = plain.find(':');
    if (colon == std::string::npos)
        return false;
    user = plain.substr(0, colon);
    password = plain.substr(colon + 1);
    return true;
}

// Whether the request may be answered. A name no one has costs the same
// bcrypt as a known one, so the time taken does not tell which names exist.
bool Allowed(const Face& face, const httplib::Request& req)
{
    if (face.Users.empty())
        return true;
    std::string user, password;
    if (!BasicCredentials(req.get_header_value("Authorization"), user, password))
        return false;
    static const std::string kNoOne = [] {
        std::string error;
        return BcryptHash("no one's password", &error);
    }();
    const auto known = face.Users.find(user);
    const bool matches =
        BcryptMatches(password, known != face.Users.end() ? known->second : kNoOne);
    return known != face.Users.end() && matches;
}

#else
Tls NewTls(SessionContext*, Socket)
{
    return nullptr;
}
short TlsWants(Session*, int)
{
    return 0;
}
bool TlsClosed(Session*, int)
{
    return false;
}
int TlsAccept(Session*)
{
    return -1;
}
int TlsRead(Session*, char*, size_t)
{
    return -1;
}
int TlsWrite(Session*, const char*, size_t)
{
    return -1;
}
bool TlsPending(Session*)
{
    return false;
}
void TlsClose(Session*) {}

std::shared_ptr<const Face> MakeFace(const WebConfig* web, std::string* error)
{
    if (web) {
        *error = "this build of chronavelctl has neither TLS nor passwords for its web face";
        return nullptr;
    }
    return std::make_shared<Face>();
}

// No passwords in this build: every request may be answered.
bool Allowed(const Face&, const httplib::Request&)
{
    return true;
}
#endif

// Written as far as the connection takes it now; never waits.
void SendNow(Socket fd, Session* tls, const std::string& text)
{
    if (tls)
        (void)TlsWrite(tls, text.data(), text.size());
    else
        (void)SendSome(fd, text.data(), text.size());
}

// The face of the connection a worker answers.
thread_local const Face* answering = nullptr;

std::string Refusal(int status, const char* reason)
{
    const std::string body = std::to_string(status) + " " + reason + "\n";
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nConnection: close\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The address of the connection's far end (peer) or of this one.
void NameOf(bool peer, Socket fd, std::string& ip, int& port)
{
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    char text[INET6_ADDRSTRLEN] = "";
    port = 0;
    auto* at = reinterpret_cast<sockaddr*>(&sa);
    if ((peer ? getpeername(fd, at, &len) : getsockname(fd, at, &len)) != 0)
        return;
    if (sa.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&sa);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (sa.ss_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&sa);
        inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        port = ntohs(in->sin6_port);
    }
    ip = text;
}

// A connection whose request head has arrived whole, read from that head
// first; everything it does past the head (a body, the answer) must be
// done by one deadline.
class Connection : public httplib::Stream {
public:
    Connection(Socket fd, Session* tls, std::string head, Clock::time_point deadline, Socket cut)
        : fd_(fd), tls_(tls), head_(std::move(head)), deadline_(deadline), cut_(cut)
    {
    }

    bool is_readable() const override
    {
        return taken_ < head_.size() || (tls_ && TlsPending(tls_)) ||
               WaitFor(fd_, POLLIN, deadline_, cut_);
    }
    bool is_writable() const override { return WaitFor(fd_, POLLOUT, deadline_, cut_); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (taken_ < head_.size()) {
            size = std::min(size, head_.size() - taken_);
            std::memcpy(ptr, head_.data() + taken_, size);
            taken_ += size;
            return static_cast<ssize_t>(size);
        }
        if (tls_)
            return TlsCall(size, [&] { return TlsRead(tls_, ptr, size); });
        while (WaitFor(fd_, POLLIN, deadline_, cut_)) {
            const ssize_t got = ReceiveSome(fd_, ptr, size);
            if (got >= 0 || !Retry(LastError()))
                return got;
        }
        return -1;
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (tls_)
            return TlsCall(size, [&] { return TlsWrite(tls_, ptr, size); });
        while (WaitFor(fd_, POLLOUT, deadline_, cut_)) {
            const ssize_t put = SendSome(fd_, ptr, size);
            if (put >= 0 || !Retry(LastError()))
                return put;
        }
        return -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        NameOf(true, fd_, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        NameOf(false, fd_, ip, port);
    }
    socket_t socket() const override { return fd_; }

private:
    // One TLS read or write, waited for within the deadline.
    template <typename Call> ssize_t TlsCall(size_t size, Call call)
    {
        if (size == 0)
            return 0;
        for (;;) {
            const int r = call();
            if (r > 0)
                return r;
            const short wants = TlsWants(tls_, r);
            if (wants == 0)
                return TlsClosed(tls_, r) ? 0 : -1;
            if (!WaitFor(fd_, wants, deadline_, cut_))
                return -1;
        }
    }

    const Socket fd_;
    Session* const tls_;
    const std::string head_;
    size_t taken_ = 0;
    const Clock::time_point deadline_;
    const Socket cut_;
};

// The library's routing and answer writing, given a connection whose head
// is already here. One request per connection: the answer says
// "Connection: close".
class Router : public httplib::Server {
public:
    void Answer(httplib::Stream& connection)
    {
        bool closed = false;
        process_request(connection, true, closed, nullptr);
    }
};

// Workers for complete requests, with a bounded queue in front: a request
// that finds it full is told so at once rather than waiting in memory.
class Pool {
public:
    Pool(int workers, int queued) : limit_(static_cast<size_t>(std::max(1, queued)))
    {
        for (int i = 0; i < std::max(1, workers); ++i)
            threads_.emplace_back([this] { Work(); });
    }

    bool TryPost(std::function<void(bool run)> job)
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (jobs_.size() >= limit_ || shutdown_)
                return false;
            jobs_.push_back(std::move(job));
        }
        work_.notify_one();
        return true;
    }

    // Jobs still queued are called with run false, to let their
    // connections go; those under way have until the deadline, then cut is
    // called (it must make them end at once) before the workers are joined.
    void Shutdown(Clock::time_point deadline, const std::function<void()>& cut)
    {
        {
            std::unique_lock<std::mutex> hold(lock_);
            shutdown_ = true;
            work_.notify_all();
            if (!idle_.wait_until(hold, deadline, [&] { return busy_ == 0 && jobs_.empty(); }))
                cut();
        }
        for (std::thread& t : threads_)
            t.join();
        threads_.clear();
    }

private:
    void Work()
    {
        HoldBackSigpipe();
        for (;;) {
            std::function<void(bool)> job;
            bool run = true;
            {
                std::unique_lock<std::mutex> hold(lock_);
                work_.wait(hold, [&] { return !jobs_.empty() || shutdown_; });
                if (jobs_.empty())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
                run = !shutdown_;
                ++busy_;
            }
            job(run);
            {
                std::lock_guard<std::mutex> hold(lock_);
                --busy_;
            }
            idle_.notify_all();
        }
    }

    const size_t limit_;
    std::mutex lock_;
    std::condition_variable work_;
    std::condition_variable idle_;
    std::deque<std::function<void(bool)>> jobs_; // guarded by lock_
    int busy_ = 0;                               // jobs under way; guarded by lock_
    bool shutdown_ = false;                      // guarded by lock_
    std::vector<std::thread> threads_;
};

// A connection the accepting thread holds: its head arriving, or its
// close lingering.
struct Held {
    Socket Fd = kNoSocket;
    std::string Head;
    Clock::time_point Deadline;
    bool Closing = false;
    std::shared_ptr<const Face> Of;
    Tls Secure;           // none for plain HTTP, and once lingering
    bool Shaken = false;  // the TLS handshake is done
    short Wants = POLLIN; // what the connection waits for
};

std::string ListenError(const HttpAddress& where, int err)
{
    const std::string at = "cannot listen on " + where.Host + ":" + std::to_string(where.Port);
    if (err == kAddressInUse)
        return at + " (address in use, perhaps by another chronavelctl daemon)";
    if (err == kNotHere)
        return at + " (not an address of this machine)";
    return at + " (" + ErrorText(err) + ")";
}

// A listening socket on the address, or none with err set.
Socket ListenOn(const addrinfo& a, int& err)
{
    const Socket fd = NewSocket(a.ai_family);
    if (fd == kNoSocket) {
        err = LastError();
        return kNoSocket;
    }
    AllowRebind(fd);
    if (bind(fd, a.ai_addr, static_cast<socklen_t>(a.ai_addrlen)) == 0 && listen(fd, 64) == 0)
        return fd;
    err = LastError();
    CloseSocket(fd);
    return kNoSocket;
}

class GatedServer : public StatusServer {
public:
    GatedServer(std::shared_ptr<const StatusBoard> board, const HttpLimits& limits,
                std::shared_ptr<const Face> face)
        : board_(std::move(board)), timeout_(limits.TimeoutMs), workers_(limits.Workers),
          queued_(limits.Queued), face_(std::move(face))
    {
        // Every path behind the same password; then read-only: any method
        // but GET and HEAD is refused before a body is read.
        router_.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
            for (const auto& [name, value] : answering->Headers)
                res.set_header(name, value);
            if (!Allowed(*answering, req)) {
                res.status = 401;
                res.set_header("WWW-Authenticate", "Basic realm=\"chronavel\", charset=\"UTF-8\"");
                res.set_content("401 unauthorized\n", "text/plain; charset=utf-8");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.method == "GET" || req.method == "HEAD")
                return httplib::Server::HandlerResponse::Unhandled;
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("405 method not allowed\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        });
        router_.set_payload_max_length(4096);
        router_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "text/plain; version=0.0.4; charset=utf-8",
                  [](const StatusSnapshot& s) { return MetricsText(s, std::time(nullptr)); });
        });
        router_.Get("/status.json", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "application/json", [](const StatusSnapshot& s) {
                return s.State.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
            });
        });
        router_.Get("/alarms.json", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "application/json", [](const StatusSnapshot& s) {
                return s.Alarms.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                       "\n";
            });
        });
        router_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
            Serve(res, "text/html; charset=utf-8",
                  [](const StatusSnapshot& s) { return StatusPage(s, std::time(nullptr)); });
        });
        router_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (res.body.empty())
                res.set_content(std::to_string(res.status) + "\n", "text/plain; charset=utf-8");
        });
    }

    ~GatedServer() override { Finish(Clock::now()); }

    // Stops accepting, lets the answers under way have until the deadline,
    // cuts the rest and ends every thread of the server: nothing of it runs
    // after this returns.
    void Finish(Clock::time_point deadline)
    {
        stopping_ = true;
        Wake();
        if (gate_.joinable())
            gate_.join();
        if (pool_)
            pool_->Shutdown(deadline, [this] {
                if (cut_[1] != kNoSocket)
                    (void)SendSome(cut_[1], "", 1);
            });
        for (Socket fd : TakeReturned())
            CloseSocket(fd);
        for (Socket& fd : listeners_)
            CloseSocket(std::exchange(fd, kNoSocket));
        listeners_.clear();
        for (Socket* fd : {&wake_[0], &wake_[1], &cut_[0], &cut_[1]})
            if (*fd != kNoSocket)
                CloseSocket(std::exchange(*fd, kNoSocket));
    }

    bool Listen(const HttpAddress& where, std::string* error)
    {
        if (!SocketPair(wake_) || !SocketPair(cut_)) {
            *error = "cannot listen: " + ErrorText(LastError());
            return false;
        }
        // "localhost" is both loopback addresses, whichever of them the
        // resolver knows: a scrape of either is answered.
        const bool both_loopbacks = where.Host == "localhost";
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV | (both_loopbacks ? AI_NUMERICHOST : 0);
        int err = kNotHere;
        for (const std::string& host : both_loopbacks ? std::vector<std::string>{"127.0.0.1", "::1"}
                                                      : std::vector<std::string>{where.Host}) {
            // Port 0 asks for a free port once; every further address takes
            // the same.
            const int port = listeners_.empty() ? where.Port : port_;
            addrinfo* found = nullptr;
            if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
                if (both_loopbacks)
                    continue;
                *error = "cannot listen on " + where.Host + ":" + std::to_string(where.Port) +
                         " (no such address)";
                return false;
            }
            Socket fd = kNoSocket;
            for (const addrinfo* a = found; a && fd == kNoSocket; a = a->ai_next) {
                fd = ListenOn(*a, err);
            }
            freeaddrinfo(found);
            if (fd != kNoSocket) {
                listeners_.push_back(fd);
                std::string ip;
                NameOf(false, fd, ip, port_);
            } else if (!both_loopbacks ||
                       (err != kNotHere && err != kNoFamily && err != kNoProtocol)) {
                // One loopback this machine lacks (no IPv6) is no failure;
                // anything else is.
                *error = ListenError(where, err);
                return false;
            }
        }
        if (listeners_.empty()) {
            *error = ListenError(where, err);
            return false;
        }
        pool_ = std::make_unique<Pool>(workers_, queued_);
        gate_ = std::thread([this] { Gate(); });
        return true;
    }

    int Port() const override { return port_; }

    bool Reconfigure(const WebConfig* web, std::string* error) override
    {
        auto face = MakeFace(web, error);
        if (!face)
            return false;
        std::lock_guard<std::mutex> hold(face_lock_);
        face_ = std::move(face);
        return true;
    }

private:
    template <typename Render> void Serve(httplib::Response& res, const char* type, Render render)
    {
        const auto snapshot = board_->Get();
        if (!snapshot) {
            res.status = 503;
            res.set_content("503 no state yet\n", "text/plain; charset=utf-8");
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(render(*snapshot), type);
    }

    void Wake()
    {
        if (wake_[1] != kNoSocket)
            (void)SendSome(wake_[1], "", 1);
    }

    std::vector<Socket> TakeReturned()
    {
        std::lock_guard<std::mutex> hold(returned_lock_);
        return std::exchange(returned_, {});
    }

    // A worker's finished connection, back for its lingering close.
    void Return(Socket fd)
    {
        StopSending(fd);
        {
            std::lock_guard<std::mutex> hold(returned_lock_);
            returned_.push_back(fd);
        }
        Wake();
    }

    void Hand(Held& h)
    {
        const Socket fd = h.Fd;
        auto head = std::make_shared<std::string>(std::move(h.Head));
        const bool taken = pool_->TryPost([this, fd, head, face = h.Of, tls = h.Secure](bool run) {
            if (run) {
                Connection c(fd, tls.get(), std::move(*head), Clock::now() + timeout_, cut_[0]);
                answering = face.get();
                router_.Answer(c);
                answering = nullptr;
            }
            if (tls)
                TlsClose(tls.get());
            Return(fd);
        });
        if (taken) {
            h.Fd = kNoSocket;
            h.Secure.reset();
        } else {
            SendNow(fd, h.Secure.get(), Refusal(503, "busy"));
            Linger(h);
        }
    }

    void Linger(Held& h)
    {
        if (h.Secure) {
            TlsClose(h.Secure.get());
            h.Secure.reset();
        }
        h.Wants = POLLIN;
        StopSending(h.Fd);
        h.Head.clear();
        h.Closing = true;
        h.Deadline = Clock::now() + kLinger;
    }

    // Reads what the connection has; false when it is to be let go.
    bool Take(Held& h)
    {
        Session* tls = h.Secure.get();
        if (tls && !h.Shaken) {
            const int r = TlsAccept(tls);
            if (r != 1) {
                h.Wants = TlsWants(tls, r);
                return h.Wants != 0;
            }
            h.Shaken = true;
        }
        h.Wants = POLLIN;
        char buf[4096];
        for (;;) {
            ssize_t got = 0;
            if (tls) {
                const int r = TlsRead(tls, buf, sizeof buf);
                if (r <= 0) {
                    h.Wants = TlsWants(tls, r);
                    return h.Wants != 0;
                }
                got = r;
            } else {
                got = ReceiveSome(h.Fd, buf, sizeof buf);
            }
            if (got == 0)
                return false;
            if (got < 0)
                return Retry(LastError());
            if (h.Closing)
                continue;
            h.Head.append(buf, static_cast<size_t>(got));
            if (h.Head.find("\r\n\r\n") != std::string::npos) {
                Hand(h);
                return h.Fd != kNoSocket;
            }
            if (h.Head.size() > kHeadMax) {
                SendNow(h.Fd, h.Secure.get(), Refusal(431, "Request Header Fields Too Large"));
                Linger(h);
            }
        }
    }

    void Accept(Socket listener, std::vector<Held>& held)
    {
        for (;;) {
            const Socket fd = AcceptOne(listener);
            if (fd == kNoSocket) {
                // Out of descriptors: the backlog waits a moment rather
                // than the loop spinning on it.
                if (OutOfResources(LastError()))
                    accept_pause_ = Clock::now() + milliseconds(100);
                return;
            }
            if (held.size() >= kHeldMax) {
                auto oldest =
                    std::min_element(held.begin(), held.end(), [](const Held& a, const Held& b) {
                        return a.Deadline < b.Deadline;
                    });
                CloseSocket(oldest->Fd);
                held.erase(oldest);
            }
            Held h{fd, {}, Clock::now() + timeout_, false, CurrentFace(), nullptr, false, POLLIN};
            if (h.Of->Ctx) {
                h.Secure = NewTls(h.Of->Ctx.get(), fd);
                if (!h.Secure) {
                    CloseSocket(fd);
                    continue;
                }
            }
            held.push_back(std::move(h));
        }
    }

    std::shared_ptr<const Face> CurrentFace()
    {
        std::lock_guard<std::mutex> hold(face_lock_);
        return face_;
    }

    void Gate()
    {
        HoldBackSigpipe();
        std::vector<Held> held;
        std::vector<PollEntry> polled;
        while (!stopping_) {
            for (Socket fd : TakeReturned()) {
                held.push_back({fd, {}, {}, false, nullptr, nullptr, false, POLLIN});
                Linger(held.back());
            }
            const auto now = Clock::now();
            // Heads not whole in time are refused; lingering closes end.
            std::erase_if(held, [&](Held& h) {
                if (h.Deadline > now)
                    return false;
                // A handshake not done in time has no way to be told.
                if (!h.Closing && (!h.Secure || h.Shaken))
                    SendNow(h.Fd, h.Secure.get(), Refusal(408, "Request Timeout"));
                h.Secure.reset();
                CloseSocket(h.Fd);
                return true;
            });
            auto next = now + milliseconds(1000);
            polled.clear();
            polled.push_back({wake_[0], POLLIN, 0});
            for (const Held& h : held) {
                polled.push_back({h.Fd, h.Wants, 0});
                next = std::min(next, h.Deadline);
            }
            // The listeners last, and only while accepting.
            const size_t first_listener = polled.size();
            const bool accepting = now >= accept_pause_;
            if (accepting) {
                for (Socket fd : listeners_)
                    polled.push_back({fd, POLLIN, 0});
            } else {
                next = std::min(next, accept_pause_);
            }
            if (Poll(polled.data(), polled.size(), MsLeft(next)) < 0 && LastError() != kInterrupted)
                break;
            char drain[64];
            while (ReceiveSome(wake_[0], drain, sizeof drain) > 0) {
            }
            // The held ones first: the indexes match only before the
            // listeners add to them.
            for (size_t i = held.size(); i-- > 0;) {
                if (polled[1 + i].revents == 0)
                    continue;
                if (!Take(held[i])) {
                    if (held[i].Fd != kNoSocket)
                        CloseSocket(held[i].Fd);
                    held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
            if (accepting)
                for (size_t l = 0; l < listeners_.size(); ++l)
                    if (polled[first_listener + l].revents != 0)
                        Accept(listeners_[l], held);
        }
        for (const Held& h : held)
            CloseSocket(h.Fd);
    }

    SocketLibrary sockets_; // first up, last down
    std::shared_ptr<const StatusBoard> board_;
    const milliseconds timeout_;
    const int workers_;
    const int queued_;
    Router router_;
    std::vector<Socket> listeners_;
    Socket wake_[2] = {kNoSocket, kNoSocket};
    // Readable once the answers under way are to end at once.
    Socket cut_[2] = {kNoSocket, kNoSocket};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    Clock::time_point accept_pause_{}; // the gate's own
    std::mutex returned_lock_;
    std::vector<Socket> returned_; // guarded by returned_lock_
    std::unique_ptr<Pool> pool_;
    std::thread gate_;
    std::mutex face_lock_;
    std::shared_ptr<const Face> face_; // for connections accepted next; guarded by face_lock_
};

} // namespace

std::unique_ptr<StatusServer> StatusServer::Start(const HttpAddress& where,
                                                  std::shared_ptr<const StatusBoard> board,
                                                  const HttpLimits& limits, const WebConfig* web,
                                                  std::string* error)
{
    auto face = MakeFace(web, error);
    if (!face) {
        *error = "--web-config: " + *error;
        return nullptr;
    }
    auto server = std::make_unique<GatedServer>(std::move(board), limits, std::move(face));
    if (!server->Listen(where, error))
        return nullptr;
    return server;
}

void StatusServer::Stop(std::unique_ptr<StatusServer> server, std::chrono::milliseconds limit)
{
    // Every server here is a GatedServer. Its answers under way have the
    // limit; a slow client's past it is cut rather than left running,
    // since nothing of the server may outlive the stop (the process may
    // be ending).
    if (auto* gated = dynamic_cast<GatedServer*>(server.get()))
        gated->Finish(Clock::now() + limit);
    server.reset();
}

} // namespace chronavel::ctl
