#include "mysql/MyConnectionPool.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using TParams = TMyConnectionParameters;

TEST(MyConnectionParametersTest, EveryMySQLSettingIsPartOfTheKey) {
  const struct {
    const char* name;
    std::function<void(TParams&)> change;
    bool equal;
  } cases[] = {
      {"server case", [](TParams& p) { p.Server = "DB"; }, true},
      {"user case", [](TParams& p) { p.Username = "GM"; }, false},
      {"database case", [](TParams& p) { p.Database = "Account"; }, false},
      {"charset case", [](TParams& p) { p.Charset = "GBK"; }, false},
      {"port", [](TParams& p) { p.Port = 3307; }, false},
      {"timeout", [](TParams& p) { p.ConnectionTimeout = 30; }, false},
      {"isolation", [](TParams& p) { p.IsolationLevel = ilSerializable; }, false},
      {"embedded", [](TParams& p) { p.Embedded = true; }, false},
      {"direct", [](TParams& p) { p.Direct = false; }, false},
      {"SSL key without SSL", [](TParams& p) { p.Key = "/etc/other.pem"; }, true},
      {"SSL key with SSL", [](TParams& p) { p.Protocol = mpSSL; }, false},
  };
  TParams base;
  base.Username = "gm";
  base.Server = "db";
  base.Database = "account";
  base.Charset = "gbk";
  base.Key = "/etc/client.pem";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TCRConnectionParameters> other = base.Clone();
    auto& my = dynamic_cast<TParams&>(*other);
    c.change(my);
    if (my.Protocol == mpSSL) {
      base.Protocol = mpSSL;
      my.Key = "/etc/other.pem";
    }
    EXPECT_EQ(base.Equals(&my), c.equal);
    EXPECT_EQ(my.Equals(&base), c.equal);
    base.Protocol = mpDefault;
  }
}

TEST(MyConnectionParametersTest, CloneAndAssignCopyEveryField) {
  TParams full;
  full.MinPoolSize = 1, full.MaxPoolSize = 2, full.ConnectionLifetime = 3, full.Validate = true;
  full.Username = "u", full.Server = "s", full.Password = "p", full.Database = "d", full.Charset = "c";
  full.Port = 4, full.ConnectionTimeout = 5, full.IsolationLevel = ilRepeatableRead, full.Compress = true;
  full.UseUnicode = true, full.Protocol = mpSSL, full.Embedded = true, full.NumericType = ntBCD;
  full.Direct = false, full.ChipherList = "x", full.CACert = "ca", full.Key = "k", full.Cert = "ce";
  std::unique_ptr<TCRConnectionParameters> copy = full.Clone();
  ASSERT_NE(dynamic_cast<TParams*>(copy.get()), nullptr);
  EXPECT_TRUE(full.Equals(copy.get()));
  TCRConnectionParameters base;
  base.Assign(full);
  EXPECT_TRUE(base.Equals(&full)) << "the shared fields";
  TParams back;
  back.Assign(base);
  EXPECT_EQ(back.Username, "u");
  EXPECT_FALSE(back.Equals(&full));
}

}  // namespace
