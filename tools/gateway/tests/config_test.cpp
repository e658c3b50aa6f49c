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
        BadConfig{"StorePostgresNotYet", "[store]\nurl = \"postgresql://db/x\"\n", 2, "store.url", "PostgreSQL"},
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
