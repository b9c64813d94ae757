#include "mysql/MyConnectionPool.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using TParams = TMyConnectionParameters;

TEST(MyConnectionParametersTest, EveryMySQLSettingIsPartOfTheKey) {
  const struct {
    const char* name;
    void (*change)(TParams&);
    bool equal;
  } cases[] = {
      {"database case", [](TParams& p) { p.Database = "Account"; }, false},
      {"charset case", [](TParams& p) { p.Charset = "GBK"; }, false},
      {"port", [](TParams& p) { p.Port = 3307; }, false},
      {"embedded", [](TParams& p) { p.Embedded = true; }, false},
      {"SSL key without SSL", [](TParams& p) { p.Key = "/etc/other.pem"; }, true},
      {"SSL key with SSL", [](TParams& p) { p.Key = "/etc/other.pem", p.Protocol = mpSSL; }, false},
  };
  TParams base;
  base.Database = "account", base.Charset = "gbk", base.Key = "/etc/client.pem";
  for (const auto& c : cases) {
    std::unique_ptr<TCRConnectionParameters> other = base.Clone();
    c.change(dynamic_cast<TParams&>(*other));
    base.Protocol = dynamic_cast<TParams&>(*other).Protocol;
    EXPECT_EQ(base.Equals(other.get()), c.equal) << c.name;
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
}

}  // namespace
