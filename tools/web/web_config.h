// The web face's TLS and passwords, from the file --web-config names: the
// YAML file monitoring exporters read, with tls_server_config,
// basic_auth_users and http_server_config. Without the file the face is
// plain HTTP and open, as before.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace chronavel::ctl {

struct WebConfig {
    // TLS is on when CertFile is set; paths are made absolute against the
    // file's own folder.
    std::string CertFile;
    std::string KeyFile;
    std::string ClientCaFile;
    // NoClientCert, RequestClientCert, RequireAnyClientCert,
    // VerifyClientCertIfGiven or RequireAndVerifyClientCert.
    std::string ClientAuth = "NoClientCert";
    // 0x0301 (TLS10) .. 0x0304 (TLS13); 0 for no upper bound.
    int MinVersion = 0x0303;
    int MaxVersion = 0;
    // User name -> bcrypt hash; none asks no password.
    std::map<std::string, std::string> Users;
    // Added to every answer.
    std::vector<std::pair<std::string, std::string>> Headers;

    bool Tls() const { return !CertFile.empty(); }
};

// The file's text read; "" or what is wrong with it, in plain words with
// its line. base_dir: where relative paths are taken from.
std::string ParseWebConfig(const std::string& text, const std::string& base_dir, WebConfig& out);
std::string LoadWebConfig(const std::string& path, WebConfig& out);

// What the files a configuration depends on look like now (sizes and
// times): a different answer means a reload is due.
std::string WebConfigStamp(const std::string& path, const WebConfig& config);

// A bcrypt hash of the password, for basic_auth_users; "" with error set
// when the system has none.
std::string BcryptHash(const std::string& password, std::string* error);
// Whether the password matches the hash (bcrypt, in constant time).
bool BcryptMatches(const std::string& password, const std::string& hash);

} // namespace chronavel::ctl
