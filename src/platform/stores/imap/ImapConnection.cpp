#include "platform/stores/imap/ImapConnection.h"

#include <fcntl.h>
#include <iconv.h>
#include <libetpan/libetpan.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/stores/imap/ServerCertificate.h"

using namespace tindale::store::imapwire;

namespace tindale::store {

namespace {

constexpr time_t kTimeoutSeconds = 60;
constexpr int kReconnects = 3;

std::string Convert(const std::string& in, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return in;
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    size_t done = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    // The end of the input: a name that ends in non-ASCII characters is closed with '-'.
    if (done != static_cast<size_t>(-1)) done = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return in;
    out.resize(out.size() - dstLeft);
    return out;
}

// A TCP connection to host:port within the timeout; -1 and `error` set when none is made.
int ConnectTcp(const std::string& host, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        error = "the server " + host + " could not be found: " + gai_strerror(rc);
        return -1;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, freeaddrinfo);
    error = "the server " + host + " could not be reached on port " + std::to_string(port);
    for (addrinfo* a = found; a; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) continue;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int soError = 0;
            socklen_t len = sizeof soError;
            if (poll(&p, 1, static_cast<int>(kTimeoutSeconds * 1000)) == 1 &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0)
                errno = 0;
            else
                errno = soError ? soError : ETIMEDOUT;
        }
        if (errno == 0 || errno == EISCONN) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        error += std::string(": ") + std::strerror(errno);
        close(fd);
    }
    return -1;
}

void NameServer(struct mailstream_ssl_context* context, void* host) {
    mailstream_ssl_set_server_name(context, static_cast<std::string*>(host)->data());
}

std::vector<std::string> CertificateChain(mailstream* stream) {
    std::vector<std::string> chain;
    carray* certs = mailstream_get_certificate_chain(stream);
    if (!certs) return chain;
    for (unsigned i = 0; i < carray_count(certs); ++i) {
        auto* der = static_cast<MMAPString*>(carray_get(certs, i));
        chain.emplace_back(der->str, der->len);
    }
    mailstream_certificate_chain_free(certs);
    return chain;
}

}  // namespace

ImapConnection::ImapConnection(ImapAccount account) : account_(std::move(account)) {}

ImapConnection::~ImapConnection() {
    if (imap_) {
        if (imap_->imap_stream) mailimap_logout(imap_);
        mailimap_free(imap_);
    }
    std::fill(password_.begin(), password_.end(), '\0');
}

std::string ImapConnection::ToWire(const std::string& utf8) {
    return Convert(utf8, "UTF-7-IMAP", "UTF-8");
}

std::string ImapConnection::FromWire(const std::string& wire) {
    return Convert(wire, "UTF-8", "UTF-7-IMAP");
}

std::string ImapConnection::Open(std::string password) {
    password_ = std::move(password);
    return Connect() ? std::string() : error_;
}

bool ImapConnection::Connect() {
    if (imap_) mailimap_free(imap_);
    imap_ = mailimap_new(0, nullptr);
    mailimap_set_timeout(imap_, kTimeoutSeconds);
    int fd = ConnectTcp(account_.host, account_.port, error_);
    if (fd < 0) return false;
    bool tls = account_.security == ImapSecurity::Tls;
    mailstream* stream = tls ? mailstream_ssl_open_with_callback_timeout(fd, kTimeoutSeconds,
                                                                         NameServer, &account_.host)
                             : mailstream_socket_open_timeout(fd, kTimeoutSeconds);
    if (!stream) {
        close(fd);
        error_ = "no TLS connection could be made with " + account_.host;
        return false;
    }
    int rc = mailimap_connect(imap_, stream);
    if (rc != MAILIMAP_NO_ERROR_NON_AUTHENTICATED && rc != MAILIMAP_NO_ERROR_AUTHENTICATED) {
        error_ = account_.host + " did not answer as an IMAP server";
        return false;
    }
    if (!tls) {
        mailimap_capability_data* caps = nullptr;
        if (mailimap_capability(imap_, &caps) == MAILIMAP_NO_ERROR)
            mailimap_capability_data_free(caps);
        if (mailimap_has_extension(imap_, const_cast<char*>("STARTTLS"))) {
            if (mailimap_socket_starttls_with_callback(imap_, NameServer, &account_.host) !=
                MAILIMAP_NO_ERROR) {
                error_ = account_.host + " offered STARTTLS but the TLS connection failed";
                return false;
            }
            tls = true;
        } else if (!account_.OnLoopback()) {
            error_ = account_.host +
                     " offers no STARTTLS: the password would travel in plain text, which is "
                     "refused for any server but this computer (use imaps://)";
            return false;
        }
    }
    if (tls) {
        std::string untrusted =
            CheckServerCertificate(CertificateChain(imap_->imap_stream), account_.host);
        if (!untrusted.empty()) {
            error_ = untrusted + " (nothing was sent to it)";
            return false;
        }
    }
    if (rc == MAILIMAP_NO_ERROR_AUTHENTICATED) return true;
    rc = mailimap_login(imap_, account_.user.c_str(), password_.c_str());
    if (rc != MAILIMAP_NO_ERROR) {
        std::string said = imap_->imap_response ? imap_->imap_response : "";
        error_ = rc == MAILIMAP_ERROR_LOGIN ? "the server refused the login of " + account_.user +
                                                  (said.empty() ? std::string() : ": " + said)
                                            : Describe(rc, "log in");
        return false;
    }
    mailimap_capability_data* caps = nullptr;
    if (mailimap_capability(imap_, &caps) == MAILIMAP_NO_ERROR) mailimap_capability_data_free(caps);
    return true;
}

bool ImapConnection::Reopen() {
    for (int attempt = 0; attempt < kReconnects; ++attempt) {
        if (attempt > 0) sleep(static_cast<unsigned>(attempt));
        if (!Connect()) continue;
        if (selected_.empty()) return true;
        std::string wire = ToWire(selected_);
        int rc = selectedReadOnly_ ? mailimap_examine(imap_, wire.c_str())
                                   : mailimap_select(imap_, wire.c_str());
        if (rc == MAILIMAP_NO_ERROR) return true;
    }
    return false;
}

void ImapConnection::Drop() {
    if (imap_ && imap_->imap_stream) {
        mailstream_close(imap_->imap_stream);
        imap_->imap_stream = nullptr;
        imap_->imap_state = MAILIMAP_STATE_DISCONNECTED;
    }
}

std::string ImapConnection::Describe(int code, const char* what) const {
    std::string said = imap_ && imap_->imap_response ? imap_->imap_response : "";
    if (code == MAILIMAP_ERROR_STREAM || code == MAILIMAP_ERROR_BAD_STATE)
        return std::string("the connection to ") + account_.host + " was lost while trying to " +
               what;
    return std::string("the server could not ") + what + (said.empty() ? "" : ": " + said);
}

bool ImapConnection::Run(const std::function<int()>& op, const char* what) {
    for (int round = 0; round <= 1; ++round) {
        if (!imap_ || !imap_->imap_stream) {
            if (!Reopen()) return false;
        }
        int rc = op();
        if (rc == MAILIMAP_NO_ERROR) return true;
        error_ = Describe(rc, what);
        bool lost =
            rc == MAILIMAP_ERROR_STREAM || rc == MAILIMAP_ERROR_BAD_STATE || !imap_->imap_stream;
        if (!lost) return false;
        Drop();
    }
    return false;
}

std::optional<std::vector<ImapMailbox>> ImapConnection::List() {
    clist* result = nullptr;
    if (!Run([&] { return mailimap_list(imap_, "", "*", &result); }, "list its folders"))
        return std::nullopt;
    std::vector<ImapMailbox> boxes;
    for (clistiter* i = clist_begin(result); i; i = clist_next(i)) {
        auto* entry = static_cast<mailimap_mailbox_list*>(clist_content(i));
        ImapMailbox box;
        box.name = FromWire(entry->mb_name);
        box.delimiter = entry->mb_delimiter ? entry->mb_delimiter : '/';
        if (entry->mb_flag) {
            if (entry->mb_flag->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG &&
                entry->mb_flag->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT)
                box.selectable = false;
            for (clistiter* f = clist_begin(entry->mb_flag->mbf_oflags); f; f = clist_next(f)) {
                auto* flag = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
                if (flag->of_type != MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT || !flag->of_flag_ext)
                    continue;
                std::string name = flag->of_flag_ext;
                if (strcasecmp(name.c_str(), "NonExistent") == 0) box.selectable = false;
                static const char* kUses[] = {"Sent", "Trash", "Drafts", "Junk", "Archive"};
                for (const char* use : kUses)
                    if (strcasecmp(name.c_str(), use) == 0) box.specialUse = "\\" + name;
            }
        }
        boxes.push_back(std::move(box));
    }
    mailimap_list_result_free(result);
    return boxes;
}

std::optional<uint32_t> ImapConnection::Select(const std::string& mailbox, bool readOnly,
                                               bool again) {
    bool selected = imap_ && imap_->imap_stream && imap_->imap_selection_info;
    if (!again && selected && selected_ == mailbox && selectedReadOnly_ == readOnly)
        return imap_->imap_selection_info->sel_uidvalidity;
    std::string wire = ToWire(mailbox);
    selected_.clear();
    bool ok = Run(
        [&] {
            return readOnly ? mailimap_examine(imap_, wire.c_str())
                            : mailimap_select(imap_, wire.c_str());
        },
        "open the folder");
    if (!ok) return std::nullopt;
    selected_ = mailbox;
    selectedReadOnly_ = readOnly;
    return imap_->imap_selection_info ? imap_->imap_selection_info->sel_uidvalidity : 0;
}

std::optional<std::vector<ImapMessage>> ImapConnection::FetchAll() {
    std::vector<ImapMessage> messages;
    if (imap_ && imap_->imap_selection_info && imap_->imap_selection_info->sel_exists == 0)
        return messages;
    clist* result = nullptr;
    bool ok = Run(
        [&] {
            mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_internaldate());
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_rfc822_size());
            mailimap_set* set = mailimap_set_new_interval(1, 0);
            int rc = mailimap_uid_fetch(imap_, set, type, &result);
            mailimap_set_free(set);
            mailimap_fetch_type_free(type);
            return rc;
        },
        "list the folder's messages");
    if (!ok) return std::nullopt;
    for (clistiter* i = clist_begin(result); i; i = clist_next(i)) {
        ImapMessage message = MessageOf(static_cast<mailimap_msg_att*>(clist_content(i)));
        if (message.uid != 0) messages.push_back(std::move(message));
    }
    mailimap_fetch_list_free(result);
    std::sort(messages.begin(), messages.end(),
              [](const ImapMessage& a, const ImapMessage& b) { return a.uid < b.uid; });
    return messages;
}

bool ImapConnection::FetchSections(const std::vector<uint32_t>& uids, bool header,
                                   const std::function<void(uint32_t, std::string_view)>& take,
                                   const char* what) {
    if (uids.empty()) return true;
    clist* result = nullptr;
    bool ok = Run(
        [&] {
            mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
            mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
            mailimap_fetch_type_new_fetch_att_list_add(
                type, mailimap_fetch_att_new_body_peek_section(
                          header ? mailimap_section_new_header() : mailimap_section_new(nullptr)));
            mailimap_set* set = SetOf(uids);
            int rc = mailimap_uid_fetch(imap_, set, type, &result);
            mailimap_set_free(set);
            mailimap_fetch_type_free(type);
            return rc;
        },
        what);
    if (!ok) return false;
    for (clistiter* i = clist_begin(result); i; i = clist_next(i)) {
        ImapMessage message = MessageOf(static_cast<mailimap_msg_att*>(clist_content(i)));
        if (message.uid != 0) take(message.uid, message.header);
    }
    mailimap_fetch_list_free(result);
    return true;
}

bool ImapConnection::FetchHeaders(const std::vector<uint32_t>& uids,
                                  const std::function<void(uint32_t, std::string_view)>& take) {
    return FetchSections(uids, true, take, "read the messages' headers");
}

bool ImapConnection::FetchBodies(const std::vector<uint32_t>& uids,
                                 const std::function<void(uint32_t, std::string_view)>& take) {
    return FetchSections(uids, false, take, "read a message");
}

std::optional<uint32_t> ImapConnection::Append(const std::string& mailbox, std::string_view bytes,
                                               const ImapFlags& flags, int64_t internalDate) {
    if ((!imap_ || !imap_->imap_stream) && !Reopen()) return std::nullopt;
    std::string wire = ToWire(mailbox);
    mailimap_flag_list* list = FlagListOf(flags);
    mailimap_date_time* date = internalDate > 0 ? DateTimeOf(internalDate) : nullptr;
    uint32_t validity = 0, uid = 0;
    int rc = mailimap_uidplus_append(imap_, wire.c_str(), list, date, bytes.data(), bytes.size(),
                                     &validity, &uid);
    mailimap_flag_list_free(list);
    if (date) mailimap_date_time_free(date);
    if (rc == MAILIMAP_NO_ERROR) return uid;
    error_ = Describe(rc, "store a message");
    if (rc == MAILIMAP_ERROR_STREAM || !imap_->imap_stream) Drop();
    return std::nullopt;
}

bool ImapConnection::Create(const std::string& mailbox) {
    std::string wire = ToWire(mailbox);
    return Run([&] { return mailimap_create(imap_, wire.c_str()); }, "make a folder");
}

bool ImapConnection::Subscribe(const std::string& mailbox) {
    std::string wire = ToWire(mailbox);
    return Run([&] { return mailimap_subscribe(imap_, wire.c_str()); }, "subscribe a folder");
}

bool ImapConnection::SetFlags(uint32_t uid, const ImapFlags& flags) {
    return Run(
        [&] {
            mailimap_set* set = mailimap_set_new_single(uid);
            mailimap_store_att_flags* att =
                mailimap_store_att_flags_new_set_flags_silent(FlagListOf(flags));
            int rc = mailimap_uid_store(imap_, set, att);
            mailimap_store_att_flags_free(att);
            mailimap_set_free(set);
            return rc;
        },
        "change a message's flags");
}

std::string ImapConnection::PersonalPrefix() {
    if ((!imap_ || !imap_->imap_stream) && !Reopen()) return {};
    if (!mailimap_has_namespace(imap_)) return {};
    mailimap_namespace_data* data = nullptr;
    if (mailimap_namespace(imap_, &data) != MAILIMAP_NO_ERROR || !data) return {};
    std::string prefix;
    if (data->ns_personal && data->ns_personal->ns_data_list) {
        clistiter* first = clist_begin(data->ns_personal->ns_data_list);
        if (first)
            prefix =
                FromWire(static_cast<mailimap_namespace_info*>(clist_content(first))->ns_prefix);
    }
    mailimap_namespace_data_free(data);
    return prefix;
}

bool ImapConnection::HasUidPlus() {
    if ((!imap_ || !imap_->imap_stream) && !Reopen()) return false;
    return mailimap_has_uidplus(imap_) != 0;
}

bool ImapConnection::ExpungeUids(const std::vector<uint32_t>& uids) {
    if (uids.empty()) return true;
    if (!HasUidPlus()) {
        error_ = account_.host +
                 " has no UIDPLUS: without UID EXPUNGE, removing these messages would also "
                 "remove every message another program marked deleted, so none was removed";
        return false;
    }
    bool marked = Run(
        [&] {
            mailimap_set* set = SetOf(uids);
            mailimap_flag_list* list = mailimap_flag_list_new_empty();
            mailimap_flag_list_add(list, mailimap_flag_new_deleted());
            mailimap_store_att_flags* att = mailimap_store_att_flags_new_add_flags_silent(list);
            int rc = mailimap_uid_store(imap_, set, att);
            mailimap_store_att_flags_free(att);
            mailimap_set_free(set);
            return rc;
        },
        "mark messages deleted");
    return marked && Run(
                         [&] {
                             mailimap_set* set = SetOf(uids);
                             int rc = mailimap_uid_expunge(imap_, set);
                             mailimap_set_free(set);
                             return rc;
                         },
                         "remove messages");
}

}  // namespace tindale::store
