// The configuration file: defaults, every key read, and each kind of
// mistake reported with the file, the line and the key.
#include <gtest/gtest.h>

#include "tools/gateway/Config.h"
#include "tools/gateway/tests/TestSupport.h"

namespace vesk::gateway {
namespace {

using testing::TempDir;

TEST(Config, EmptyFileGivesTheDefaults) {
  const GatewaySettings s = ParseConfig("", "/etc/veskgsm/gateway.toml");
  EXPECT_EQ(s.store.url, "sqlite://veskgsm.db");
  EXPECT_EQ(s.store.path, "/etc/veskgsm/veskgsm.db");  // beside the configuration
  EXPECT_EQ(s.store.synchronous, "normal");
  EXPECT_TRUE(s.modems.empty());
  EXPECT_EQ(s.retry.maxAttempts, 5);
  EXPECT_DOUBLE_EQ(s.retry.backoffSeconds, 30);
  EXPECT_DOUBLE_EQ(s.hooks.timeoutSeconds, 30);
  EXPECT_EQ(s.hooks.retries, 3);
  EXPECT_DOUBLE_EQ(s.inbox.incompleteAfterSeconds, 86400);
  EXPECT_TRUE(s.hooks.onReceived.Empty());
  EXPECT_FALSE(s.name.empty());
}

TEST(Config, EveryKeyIsRead) {
  const GatewaySettings s = ParseConfig(R"(
[gateway]
name = "site-a"

[store]
url = "sqlite:///var/lib/veskgsm/store.db"
synchronous = "full"

[[modem]]
name = "left"
port = "/dev/ttyUSB0"
baud = 921600
pin = "1234"
smsc = "+15550100"
report = true
send_rate = 12
wait_for_prompt = false
reopen = 2.5

[[modem]]
name = "right"
imei = "490154203237518"

[hooks]
on_received = "/usr/local/bin/got-sms --quiet"
on_sent = ["/usr/local/bin/sent", "--id"]
on_delivered = "logger delivered"
on_failed = "logger failed"
timeout = 5
retries = 7
retry_delay = 1.5

[retry]
max_attempts = 3
backoff = 10

[inbox]
incomplete_after = 3600
)",
                                        "gw.toml");
  EXPECT_EQ(s.name, "site-a");
  EXPECT_EQ(s.store.path, "/var/lib/veskgsm/store.db");
  EXPECT_EQ(s.store.synchronous, "full");
  ASSERT_EQ(s.modems.size(), 2u);
  const ModemSettings& left = s.modems[0];
  EXPECT_EQ(left.name, "left");
  EXPECT_EQ(left.port, "/dev/ttyUSB0");
  EXPECT_EQ(left.baud, 921600);
  EXPECT_EQ(left.pin, "1234");
  EXPECT_EQ(left.smsc, "+15550100");
  EXPECT_TRUE(left.report);
  EXPECT_EQ(left.sendRate, 12);
  EXPECT_FALSE(left.waitForPrompt);
  EXPECT_DOUBLE_EQ(left.reopenSeconds, 2.5);
  EXPECT_EQ(left.line, 9);
  const ModemSettings& right = s.modems[1];
  EXPECT_EQ(right.imei, "490154203237518");
  EXPECT_EQ(right.port, "");
  EXPECT_EQ(right.baud, 115200);
  EXPECT_TRUE(right.waitForPrompt);
  EXPECT_EQ(right.sendRate, 0);
  EXPECT_EQ(s.hooks.onReceived.argv, (std::vector<std::string>{"/bin/sh", "-c", "/usr/local/bin/got-sms --quiet"}));
  EXPECT_EQ(s.hooks.onSent.argv, (std::vector<std::string>{"/usr/local/bin/sent", "--id"}));
  EXPECT_DOUBLE_EQ(s.hooks.timeoutSeconds, 5);
  EXPECT_EQ(s.hooks.retries, 7);
  EXPECT_DOUBLE_EQ(s.hooks.retryDelaySeconds, 1.5);
  EXPECT_EQ(s.retry.maxAttempts, 3);
  EXPECT_DOUBLE_EQ(s.retry.backoffSeconds, 10);
  EXPECT_DOUBLE_EQ(s.inbox.incompleteAfterSeconds, 3600);
}

TEST(Config, ServiceKeysAreRead) {
  const GatewaySettings s = ParseConfig(R"(
[store]
url = "postgresql://gw@db.example:5433/veskgsm"
lease = 20

[http]
listen = "0.0.0.0:9000"
token = "0123456789abcdef0123"

[[webhook]]
url = "https://hooks.example/sms"
secret = "s3cret"
events = ["received", "failed"]
timeout = 3

[[webhook]]
url = "http://127.0.0.1:9999/all"
secret = "other"
)",
                                        "gw.toml");
  EXPECT_TRUE(s.store.postgres);
  EXPECT_EQ(s.store.url, "postgresql://gw@db.example:5433/veskgsm");
  EXPECT_DOUBLE_EQ(s.store.leaseSeconds, 20);
  EXPECT_TRUE(s.http.enabled);
  EXPECT_EQ(s.http.host, "0.0.0.0");
  EXPECT_EQ(s.http.port, 9000);
  EXPECT_EQ(s.http.token, "0123456789abcdef0123");
  ASSERT_EQ(s.webhooks.size(), 2u);
  EXPECT_EQ(s.webhooks[0].url, "https://hooks.example/sms");
  EXPECT_EQ(s.webhooks[0].secret, "s3cret");
  EXPECT_EQ(s.webhooks[0].events, (std::set<std::string>{"received", "failed"}));
  EXPECT_DOUBLE_EQ(s.webhooks[0].timeoutSeconds, 3);
  EXPECT_EQ(s.webhooks[1].events.size(), 6u) << "every type by default";
  EXPECT_DOUBLE_EQ(s.webhooks[1].timeoutSeconds, 10);
}

TEST(Config, HttpDefaultsToLoopbackWithoutToken) {
  const GatewaySettings off = ParseConfig("", "gw.toml");
  EXPECT_FALSE(off.http.enabled) << "no [http] table: no API";
  EXPECT_DOUBLE_EQ(off.store.leaseSeconds, 60);
  const GatewaySettings on = ParseConfig("[http]\n", "gw.toml");
  EXPECT_TRUE(on.http.enabled);
  EXPECT_EQ(on.http.host, "127.0.0.1");
  EXPECT_EQ(on.http.port, 8080);
  EXPECT_EQ(on.http.token, "");
  for (const char* listen : {"localhost:80", "127.0.0.2:80", "[::1]:8081"})
    EXPECT_NO_THROW(ParseConfig(std::string("[http]\nlisten = \"") + listen + "\"\n", "gw.toml")) << listen;
  EXPECT_EQ(ParseConfig("[http]\nlisten = \"[::1]:8081\"\n", "gw.toml").http.host, "::1");
}

TEST(Config, LoopbackHosts) {
  for (const char* yes : {"localhost", "127.0.0.1", "127.1.2.3", "::1"}) EXPECT_TRUE(IsLoopbackHost(yes)) << yes;
  for (const char* no : {"0.0.0.0", "", "127.0.0.1.example", "1270.0.0.1", "192.168.1.1", "::", "127.0.0"})
    EXPECT_FALSE(IsLoopbackHost(no)) << no;
}

TEST(Config, RelativeStorePathIsBesideTheFile) {
  EXPECT_EQ(ParseConfig("[store]\nurl = \"sqlite://data/gw.db\"\n", "/srv/gw/gateway.toml").store.path,
            "/srv/gw/data/gw.db");
  EXPECT_EQ(ParseConfig("", "gateway.toml").store.path, "veskgsm.db");
}

struct BadConfig {
  const char* name;
  const char* text;
  int line;
  const char* key;
  const char* message;  // a part of it
};

class ConfigErrors : public ::testing::TestWithParam<BadConfig> {};

TEST_P(ConfigErrors, NameFileLineAndKey) {
  const BadConfig& c = GetParam();
  try {
    ParseConfig(c.text, "/etc/gw.toml");
    FAIL() << "accepted";
  } catch (const ConfigError& e) {
    EXPECT_EQ(e.File(), "/etc/gw.toml");
    EXPECT_EQ(e.Line(), c.line) << e.what();
    EXPECT_EQ(e.Key(), c.key) << e.what();
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).rfind("/etc/gw.toml:" + std::to_string(c.line) + ": ", 0), 0u) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, ConfigErrors,
    ::testing::Values(
        BadConfig{"SyntaxError", "[store]\nurl = \"sqlite://a.db\"\nurl2 = \n", 3, "", ""},
        BadConfig{"UnknownTopTable", "[stroe]\nurl = \"x\"\n", 1, "stroe", "unknown key"},
        BadConfig{"UnknownKeyInModem", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nbaudrate = 9600\n", 4,
                  "modem[1].baudrate", "unknown key"},
        BadConfig{"StoreUrlNotAString", "[store]\nurl = 5\n", 2, "store.url", "string"},
        BadConfig{"StoreUnknownScheme", "[store]\nurl = \"mysql://x\"\n", 2, "store.url", "sqlite://"},
        BadConfig{"StoreLeaseZero", "[store]\nlease = 0\n", 2, "store.lease", "at least 1"},
        BadConfig{"HttpListenNoPort", "[http]\nlisten = \"127.0.0.1\"\n", 2, "http.listen", "HOST:PORT"},
        BadConfig{"HttpListenPortTooBig", "[http]\nlisten = \"127.0.0.1:70000\"\n", 2, "http.listen", "HOST:PORT"},
        BadConfig{"HttpOpenWithoutToken", "[http]\nlisten = \"0.0.0.0:8080\"\n", 2, "http.listen", "set [http] token"},
        BadConfig{"HttpEveryAddressWithoutToken", "[http]\nlisten = \":8080\"\n", 2, "http.listen",
                  "reachable from other hosts"},
        BadConfig{"HttpShortToken", "[http]\ntoken = \"short\"\n", 2, "http.token", "16 characters"},
        BadConfig{"HttpTokenWithSpace", "[http]\ntoken = \"0123456789 abcdef\"\n", 2, "http.token", "spaces"},
        BadConfig{"HttpUnknownKey", "[http]\nport = 8080\n", 2, "http.port", "unknown key"},
        BadConfig{"WebhookWithoutUrl", "[[webhook]]\nsecret = \"s\"\n", 1, "webhook[1].url", "required"},
        BadConfig{"WebhookNotHttp", "[[webhook]]\nurl = \"ftp://x/y\"\nsecret = \"s\"\n", 2, "webhook[1].url",
                  "http://"},
        BadConfig{"WebhookNoHost", "[[webhook]]\nurl = \"http:///hook\"\nsecret = \"s\"\n", 2, "webhook[1].url",
                  "no host"},
        BadConfig{"WebhookWithoutSecret", "[[webhook]]\nurl = \"http://h/x\"\n", 1, "webhook[1].secret", "required"},
        BadConfig{"WebhookUnknownEvent",
                  "[[webhook]]\nurl = \"http://h/x\"\nsecret = \"s\"\nevents = [\"sent\", \"read\"]\n", 4,
                  "webhook[1].events", "received, sent"},
        BadConfig{
            "WebhookSameUrlTwice",
            "[[webhook]]\nurl = \"http://h/x\"\nsecret = \"s\"\n[[webhook]]\nurl = \"http://h/x\"\nsecret = \"t\"\n", 5,
            "webhook[2].url", "line 1"},
        BadConfig{"StoreSynchronous", "[store]\nsynchronous = \"off\"\n", 2, "store.synchronous", "\"normal\""},
        BadConfig{"ModemWithoutName", "\n[[modem]]\nport = \"/dev/x\"\n", 2, "modem[1].name", "required"},
        BadConfig{"ModemBadName", "[[modem]]\nname = \"a b\"\nport = \"/dev/x\"\n", 2, "modem[1].name", "letters"},
        BadConfig{"ModemWithoutPort", "[[modem]]\nname = \"a\"\n", 1, "modem[1].port", "required"},
        BadConfig{"ModemPortAndImei", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nimei = \"123\"\n", 4,
                  "modem[1].imei", "not both"},
        BadConfig{"ModemImeiNotDigits", "[[modem]]\nname = \"a\"\nimei = \"12a\"\n", 3, "modem[1].imei", "digits"},
        BadConfig{"ModemBaudText", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nbaud = \"fast\"\n", 4, "modem[1].baud",
                  "whole number"},
        BadConfig{"ModemBaudZero", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nbaud = 0\n", 4, "modem[1].baud",
                  "between 75"},
        BadConfig{"ModemPinShort", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\npin = \"12\"\n", 4, "modem[1].pin",
                  "4 to 8 digits"},
        BadConfig{"ModemSmscLetters", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nsmsc = \"+1555x\"\n", 4,
                  "modem[1].smsc", "digits"},
        BadConfig{"ModemReportNotBool", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nreport = \"yes\"\n", 4,
                  "modem[1].report", "true or false"},
        BadConfig{"ModemNegativeRate", "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\nsend_rate = -1\n", 4,
                  "modem[1].send_rate", "between 0"},
        BadConfig{"SecondModemSameName",
                  "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\n\n[[modem]]\nname = \"a\"\nport = \"/dev/y\"\n", 6,
                  "modem[2].name", "line 1"},
        BadConfig{"TwoModemsOnOnePort",
                  "[[modem]]\nname = \"a\"\nport = \"/dev/x\"\n\n[[modem]]\nname = \"b\"\nport = \"/dev/x\"\n", 7,
                  "modem[2].port", "already the port"},
        BadConfig{"ModemNotArrayOfTables", "modem = 3\n", 1, "modem", "[[modem]]"},
        BadConfig{"HookEmpty", "[hooks]\non_sent = \"  \"\n", 2, "hooks.on_sent", "empty"},
        BadConfig{"HookNumber", "[hooks]\non_sent = 1\n", 2, "hooks.on_sent", "command line"},
        BadConfig{"HookArrayOfNumbers", "[hooks]\non_sent = [1, 2]\n", 2, "hooks.on_sent", "array of strings"},
        BadConfig{"HookTimeoutZero", "[hooks]\ntimeout = 0\n", 2, "hooks.timeout", "above 0"},
        BadConfig{"HookUnknown", "[hooks]\non_recieved = \"x\"\n", 2, "hooks.on_recieved", "unknown key"},
        BadConfig{"RetryAttemptsZero", "[retry]\nmax_attempts = 0\n", 2, "retry.max_attempts", "between 1"},
        BadConfig{"RetryBackoffText", "[retry]\nbackoff = \"30s\"\n", 2, "retry.backoff", "seconds"},
        BadConfig{"InboxNotATable", "inbox = 5\n", 1, "inbox", "table"},
        BadConfig{"InboxIncompleteNegative", "[inbox]\nincomplete_after = -1\n", 2, "inbox.incomplete_after",
                  "above 0"}),
    [](const ::testing::TestParamInfo<BadConfig>& p) { return std::string(p.param.name); });

TEST(Config, MissingFileIsAnError) {
  TempDir dir;
  try {
    LoadConfig(dir.Path("absent.toml"));
    FAIL();
  } catch (const ConfigError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot read"), std::string::npos);
  }
}

TEST(Config, LoadsFromAFile) {
  TempDir dir;
  const std::string path = dir.Write("gw.toml", "[[modem]]\nname = \"m\"\nport = \"/dev/null\"\n");
  const GatewaySettings s = LoadConfig(path);
  ASSERT_EQ(s.modems.size(), 1u);
  EXPECT_EQ(s.store.path, dir.Path("veskgsm.db"));
}

}  // namespace
}  // namespace vesk::gateway
