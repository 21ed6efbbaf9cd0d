// The web face's configuration file: a full one read as written, and each
// kind of fault refused in words that name the line and what to do.
#include "tools/web/web_config.h"

#include <gtest/gtest.h>

namespace chronavel::test {
namespace {

const std::string kHash = "$2y$10$3c6Xk7RzN0F0Hw8yZb6b1eQe4N5Yl4r8sS2o9k1bW0dV7pXk0hM9a";

TEST(CtlWebConfig, FullFileIsReadAsWritten)
{
    ctl::WebConfig c;
    const std::string text = "# the building's scrape\n"
                             "tls_server_config:\n"
                             "  cert_file: tls/cert.pem\n"
                             "  key_file: /etc/keys/key.pem\n"
                             "  client_ca_file: ca.pem\n"
                             "  client_auth_type: RequireAndVerifyClientCert\n"
                             "  min_version: TLS13\n"
                             "basic_auth_users:\n"
                             "  prometheus: '" +
                             kHash +
                             "'\n"
                             "http_server_config:\n"
                             "  http2: true\n"
                             "  headers:\n"
                             "    Strict-Transport-Security: max-age=31536000\n";
    ASSERT_EQ(ctl::ParseWebConfig(text, "/etc/chronavel", c), "");
    EXPECT_TRUE(c.Tls());
    EXPECT_EQ(c.CertFile, "/etc/chronavel/tls/cert.pem");
    EXPECT_EQ(c.KeyFile, "/etc/keys/key.pem");
    EXPECT_EQ(c.ClientCaFile, "/etc/chronavel/ca.pem");
    EXPECT_EQ(c.ClientAuth, "RequireAndVerifyClientCert");
    EXPECT_EQ(c.MinVersion, 0x0304);
    EXPECT_EQ(c.Users.at("prometheus"), kHash);
    ASSERT_EQ(c.Headers.size(), 1u);
    EXPECT_EQ(c.Headers[0].second, "max-age=31536000");

    // Empty and comment-only files, and an empty section: plain and open.
    for (const char* open :
         {"", "# nothing yet\n", "tls_server_config:\n", "basic_auth_users: {}\n"}) {
        ASSERT_EQ(ctl::ParseWebConfig(open, "/", c), "") << open;
        EXPECT_FALSE(c.Tls()) << open;
        EXPECT_TRUE(c.Users.empty()) << open;
    }
}

TEST(CtlWebConfig, FaultsAreSaidInPlainWords)
{
    const struct {
        std::string text;
        std::string said;
    } cases[] = {
        {"tls_server_config: [a\n", "line 2: not YAML"},
        {"- a\n- b\n", "the file must be a mapping"},
        {"tls_config:\n  cert_file: a\n", "line 1: 'tls_config' is not known here"},
        {"tls_server_config:\n  cert_file: a.pem\n", "needs both cert_file and key_file"},
        {"tls_server_config:\n  cert_file: a\n  key_file: b\n  cert: x\n",
         "line 4: tls_server_config: 'cert' is not known here"},
        {"tls_server_config:\n  cert_file: [a, b]\n  key_file: b\n",
         "cert_file must be a single value"},
        {"tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS14\n",
         "min_version 'TLS14' is none of TLS10, TLS11, TLS12, TLS13"},
        {"tls_server_config:\n  cert_file: a\n  key_file: b\n  min_version: TLS13\n  "
         "max_version: TLS12\n",
         "max_version is below min_version"},
        {"tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: Always\n",
         "client_auth_type 'Always' is none of"},
        {"tls_server_config:\n  cert_file: a\n  key_file: b\n  client_auth_type: "
         "VerifyClientCertIfGiven\n",
         "needs client_ca_file"},
        {"basic_auth_users:\n  alice: secret\n",
         "line 2: the password of alice is not a bcrypt hash ($2y$...; make one with chronavelctl "
         "hash-password)"},
        {"basic_auth_users:\n  'a:b': '" + kHash + "'\n", "user name 'a:b'"},
        {"basic_auth_users:\n  - alice\n", "basic_auth_users must be a mapping"},
        {"http_server_config:\n  headers:\n    Server: x\n", "header 'Server' may not be set"},
        {"http_server_config:\n  timeout: 3\n", "http_server_config: 'timeout' is not known here"},
    };
    for (const auto& c : cases) {
        ctl::WebConfig out;
        const std::string why = ctl::ParseWebConfig(c.text, "/", out);
        EXPECT_NE(why.find(c.said), std::string::npos) << c.text << "\nsaid: " << why;
    }
    ctl::WebConfig out;
    EXPECT_NE(ctl::LoadWebConfig("/nonexistent/web.yml", out)
                  .find("/nonexistent/web.yml: cannot be read"),
              std::string::npos);
}

TEST(CtlWebConfig, BcryptHashesMatchTheirPasswordOnly)
{
    std::string error;
    const std::string hash = ctl::BcryptHash("s3cret ä", &error);
    ASSERT_EQ(hash.size(), 60u) << error;
    EXPECT_TRUE(ctl::BcryptMatches("s3cret ä", hash));
    for (const char* wrong : {"", "s3cret", "s3cret ä ", "S3cret ä"})
        EXPECT_FALSE(ctl::BcryptMatches(wrong, hash)) << wrong;
    EXPECT_FALSE(ctl::BcryptMatches("s3cret ä", "not a hash"));
}

} // namespace
} // namespace chronavel::test
