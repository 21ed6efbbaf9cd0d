#include "tools/web/web_config.h"

#include <cctype>
#include <cerrno>
#include <crypt.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <openssl/crypto.h>
#include <set>
#include <sstream>
#include <yaml.h>

namespace chronavel::ctl {

namespace {

// bcrypt's cost for new hashes: about 50 ms on a small server, the cost
// the exporters' own tools choose.
constexpr unsigned long kBcryptCost = 10;

// The headers an answer may be given, as the exporters allow them.
const std::set<std::string> kAllowedHeaders{"Strict-Transport-Security", "X-Content-Type-Options",
                                            "X-Frame-Options", "X-XSS-Protection",
                                            "Content-Security-Policy"};

struct Doc {
    yaml_document_t doc;
    ~Doc() { yaml_document_delete(&doc); }
};

std::string At(const yaml_node_t* n)
{
    return "line " + std::to_string(n->start_mark.line + 1) + ": ";
}

std::string Scalar(const yaml_node_t* n)
{
    return std::string(reinterpret_cast<const char*>(n->data.scalar.value), n->data.scalar.length);
}

// Walks a mapping, calling take(key, value) for each pair; the first
// error ends it.
template <typename Take>
std::string EachPair(yaml_document_t& d, const yaml_node_t* map, const std::string& what, Take take)
{
    if (map->type == YAML_SCALAR_NODE && Scalar(map).empty())
        return ""; // "key:" with nothing under it
    if (map->type != YAML_MAPPING_NODE)
        return At(map) + what + " must be a mapping (key: value lines)";
    for (auto* p = map->data.mapping.pairs.start; p < map->data.mapping.pairs.top; ++p) {
        const yaml_node_t* k = yaml_document_get_node(&d, p->key);
        const yaml_node_t* v = yaml_document_get_node(&d, p->value);
        if (k->type != YAML_SCALAR_NODE)
            return At(k) + "a key in " + what + " must be a plain word";
        if (std::string why = take(k, Scalar(k), v); !why.empty())
            return why;
    }
    return "";
}

std::string Text(const yaml_node_t* v, const std::string& key, std::string& out)
{
    if (v->type != YAML_SCALAR_NODE)
        return At(v) + key + " must be a single value";
    out = Scalar(v);
    return "";
}

std::string PathIn(const std::string& base_dir, const std::string& path)
{
    if (path.empty() || std::filesystem::path(path).is_absolute())
        return path;
    return (std::filesystem::path(base_dir) / std::filesystem::path(path)).string();
}

std::string Version(const yaml_node_t* v, const std::string& key, int& out)
{
    std::string text;
    if (std::string why = Text(v, key, text); !why.empty())
        return why;
    static const std::pair<const char*, int> kVersions[] = {
        {"TLS10", 0x0301}, {"TLS11", 0x0302}, {"TLS12", 0x0303}, {"TLS13", 0x0304}};
    for (const auto& [name, number] : kVersions)
        if (text == name) {
            out = number;
            return "";
        }
    return At(v) + key + " '" + text + "' is none of TLS10, TLS11, TLS12, TLS13";
}

std::string TlsPart(yaml_document_t& d, const yaml_node_t* node, const std::string& base_dir,
                    WebConfig& out)
{
    std::string why = EachPair(
        d, node, "tls_server_config",
        [&](const yaml_node_t* k, const std::string& key, const yaml_node_t* v) {
            if (key == "cert_file" || key == "key_file" || key == "client_ca_file") {
                std::string& to = key == "cert_file"  ? out.CertFile
                                  : key == "key_file" ? out.KeyFile
                                                      : out.ClientCaFile;
                std::string why2 = Text(v, key, to);
                to = PathIn(base_dir, to);
                return why2;
            }
            if (key == "client_auth_type") {
                if (std::string why2 = Text(v, key, out.ClientAuth); !why2.empty())
                    return why2;
                for (const char* known :
                     {"NoClientCert", "RequestClientCert", "RequireAnyClientCert",
                      "VerifyClientCertIfGiven", "RequireAndVerifyClientCert"})
                    if (out.ClientAuth == known)
                        return std::string();
                return At(v) + "client_auth_type '" + out.ClientAuth +
                       "' is none of NoClientCert, RequestClientCert, RequireAnyClientCert, "
                       "VerifyClientCertIfGiven, RequireAndVerifyClientCert";
            }
            if (key == "min_version")
                return Version(v, key, out.MinVersion);
            if (key == "max_version")
                return Version(v, key, out.MaxVersion);
            return At(k) + "tls_server_config: '" + key +
                   "' is not known here (known: cert_file, key_file, client_ca_file, "
                   "client_auth_type, min_version, max_version)";
        });
    if (!why.empty())
        return why;
    const bool empty = node->type != YAML_MAPPING_NODE ||
                       node->data.mapping.pairs.top == node->data.mapping.pairs.start;
    if (empty)
        return ""; // "tls_server_config:" alone: no TLS
    if (out.CertFile.empty() || out.KeyFile.empty())
        return At(node) + "tls_server_config needs both cert_file and key_file";
    if (out.ClientAuth.find("Verify") != std::string::npos && out.ClientCaFile.empty())
        return At(node) + "client_auth_type " + out.ClientAuth + " needs client_ca_file";
    if (out.MaxVersion != 0 && out.MaxVersion < out.MinVersion)
        return At(node) + "max_version is below min_version";
    return "";
}

// "$2a$", "$2b$" or "$2y$", a two-digit cost, then 53 characters of salt
// and hash.
bool LooksBcrypt(const std::string& h)
{
    if (h.size() != 60 || h[0] != '$' || h[1] != '2' || std::strchr("aby", h[2]) == nullptr ||
        h[3] != '$' || h[6] != '$' || !std::isdigit(static_cast<unsigned char>(h[4])) ||
        !std::isdigit(static_cast<unsigned char>(h[5])))
        return false;
    for (size_t i = 7; i < h.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(h[i])) && h[i] != '.' && h[i] != '/')
            return false;
    return true;
}

} // namespace

std::string ParseWebConfig(const std::string& text, const std::string& base_dir, WebConfig& out)
{
    out = WebConfig{};
    yaml_parser_t parser;
    if (!yaml_parser_initialize(&parser))
        return "out of memory";
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    Doc d;
    const bool loaded = yaml_parser_load(&parser, &d.doc) != 0;
    std::string why;
    if (!loaded) {
        const auto& mark = parser.problem_mark;
        why = "line " + std::to_string(mark.line + 1) + ": not YAML (" +
              (parser.problem ? parser.problem : "unreadable") + ")";
        yaml_parser_delete(&parser);
        d.doc = {};
        return why;
    }
    yaml_parser_delete(&parser);
    const yaml_node_t* root = yaml_document_get_root_node(&d.doc);
    if (!root)
        return ""; // an empty file: plain HTTP, no passwords
    why = EachPair(
        d.doc, root, "the file",
        [&](const yaml_node_t* k, const std::string& key, const yaml_node_t* v) {
            if (key == "tls_server_config") {
                return TlsPart(d.doc, v, base_dir, out);
            }
            if (key == "basic_auth_users")
                return EachPair(
                    d.doc, v, "basic_auth_users",
                    [&](const yaml_node_t*, const std::string& user, const yaml_node_t* h) {
                        std::string hash;
                        if (std::string why2 = Text(h, user, hash); !why2.empty())
                            return why2;
                        if (user.empty() || user.find(':') != std::string::npos)
                            return At(h) + "user name '" + user +
                                   "' must be non-empty and without ':'";
                        if (!LooksBcrypt(hash))
                            return At(h) + "the password of " + user +
                                   " is not a bcrypt hash ($2y$...; make one with "
                                   "chronavelctl hash-password)";
                        out.Users[user] = hash;
                        return std::string();
                    });
            if (key == "http_server_config")
                return EachPair(
                    d.doc, v, "http_server_config",
                    [&](const yaml_node_t* k2, const std::string& key2, const yaml_node_t* v2) {
                        if (key2 == "http2") // HTTP/1.1 is all this face speaks
                            return std::string();
                        if (key2 != "headers")
                            return At(k2) + "http_server_config: '" + key2 +
                                   "' is not known here (known: headers)";
                        return EachPair(d.doc, v2, "headers",
                                        [&](const yaml_node_t* k3, const std::string& name,
                                            const yaml_node_t* v3) {
                                            if (!kAllowedHeaders.count(name))
                                                return At(k3) + "header '" + name +
                                                       "' may not be set (allowed: "
                                                       "Strict-Transport-Security, "
                                                       "X-Content-Type-Options, "
                                                       "X-Frame-Options, X-XSS-Protection, "
                                                       "Content-Security-Policy)";
                                            std::string value;
                                            std::string why3 = Text(v3, name, value);
                                            out.Headers.emplace_back(name, value);
                                            return why3;
                                        });
                    });
            return At(k) + "'" + key +
                   "' is not known here (known: tls_server_config, basic_auth_users, "
                   "http_server_config)";
        });
    return why;
}

std::string LoadWebConfig(const std::string& path, WebConfig& out)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in)
        return path + ": cannot be read (" + std::strerror(errno) + ")";
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > 1024 * 1024)
        return path + ": too big for a web configuration";
    const std::string dir = std::filesystem::path(path).parent_path().string();
    if (std::string why = ParseWebConfig(text.str(), dir, out); !why.empty())
        return path + ": " + why;
    return "";
}

std::string WebConfigStamp(const std::string& path, const WebConfig& config)
{
    std::string stamp;
    for (const std::string& f : {path, config.CertFile, config.KeyFile, config.ClientCaFile}) {
        std::error_code ec;
        const auto p = std::filesystem::path(f);
        const auto size = std::filesystem::file_size(p, ec);
        const auto time = std::filesystem::last_write_time(p, ec);
        stamp += f + "|" + std::to_string(ec ? -1 : static_cast<long long>(size)) + "|" +
                 std::to_string(time.time_since_epoch().count()) + "\n";
    }
    return stamp;
}

std::string BcryptHash(const std::string& password, std::string* error)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$2b$", kBcryptCost, nullptr, 0, salt, sizeof salt)) {
        *error = std::string("no bcrypt salt from the system (") + std::strerror(errno) + ")";
        return "";
    }
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_r(password.c_str(), salt, data.get());
    if (!hash || hash[0] == '*') {
        *error = "the system's crypt has no bcrypt";
        return "";
    }
    return hash;
}

bool BcryptMatches(const std::string& password, const std::string& hash)
{
    auto data = std::make_unique<crypt_data>();
    const char* got = crypt_r(password.c_str(), hash.c_str(), data.get());
    return got && std::strlen(got) == hash.size() &&
           CRYPTO_memcmp(got, hash.data(), hash.size()) == 0;
}

} // namespace chronavel::ctl
