#include "platform/db/DataSource.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "VectorDataSet.h"
#include "platform/db/Connection.h"

namespace {

// Records what the link's handlers were called with.
class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> Calls;

 protected:
  void ActiveChanged() override { Calls.push_back(Active() ? "active" : "inactive"); }
  void EditingChanged() override { Calls.push_back(Editing() ? "editing" : "browsing"); }
  void DataSetChanged() override { Calls.push_back("changed"); }
  void DataSetScrolled(int distance) override { Calls.push_back("scrolled " + std::to_string(distance)); }
  void RecordChanged(TField* field) override {
    Calls.push_back("record " + (field ? field->FieldName() : ""));
  }
  void UpdateData() override { Calls.push_back("update"); }
};

struct Linked {
  VectorDataSet ds;
  TDataSource source;
  RecordingLink link;
  Linked() {
    for (int i = 1; i <= 3; ++i) ds.AddRow(i, "r" + std::to_string(i));
    source.SetDataSet(&ds);
    link.SetDataSource(&source);
  }
  std::vector<std::string> Take() { return std::exchange(link.Calls, {}); }
};

TEST(DataLinkTest, LinkSeesStateScrollAndRecordChanges) {
  Linked l;
  struct Step {
    const char* name;
    std::function<void(TDataSet&)> op;
    std::vector<std::string> calls;
  };
  const Step steps[] = {
      {"open", [](TDataSet& d) { d.Open(); }, {"active", "changed"}},
      {"next", [](TDataSet& d) { d.Next(); }, {"scrolled 1"}},
      {"edit", [](TDataSet& d) { d.Edit(); }, {"editing", "record "}},
      {"field", [](TDataSet& d) { d.FieldByName("Name")->SetAsString("x"); }, {"record Name"}},
      {"post", [](TDataSet& d) { d.Post(); }, {"update", "browsing", "changed"}},
      {"close", [](TDataSet& d) { d.Close(); }, {"inactive"}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    s.op(l.ds);
    EXPECT_EQ(l.Take(), s.calls);
  }
}

TEST(DataLinkTest, DisableControlsHoldsNoticesUntilTheMatchingEnable) {
  Linked l;
  l.ds.Open();
  l.Take();
  l.ds.DisableControls();
  l.ds.DisableControls();
  l.ds.Next();
  l.ds.Edit();
  l.ds.FieldByName("Name")->SetAsString("x");
  l.ds.Post();
  l.ds.EnableControls();
  EXPECT_EQ(l.Take(), std::vector<std::string>{"update"});  // the pending text still reaches Post
  l.ds.EnableControls();
  EXPECT_EQ(l.Take(), std::vector<std::string>{"changed"});
  l.ds.EnableControls();  // unbalanced: nothing
  EXPECT_TRUE(l.Take().empty());
}

TEST(FieldDataLinkTest, PendingTextReachesTheFieldAtPost) {
  VectorDataSet ds;
  ds.AddRow(1, "before");
  TDataSource source;
  source.SetDataSet(&ds);
  TFieldDataLink link;
  std::string shown, pending = "typed";
  int editingChanges = 0;
  link.OnDataChange = [&](TFieldDataLink* l) { shown = l->Field() ? l->Field()->AsString() : ""; };
  link.OnEditingChange = [&](TFieldDataLink*) { ++editingChanges; };
  link.OnUpdateData = [&](TFieldDataLink* l) { l->Field()->SetAsString(pending); };
  link.SetFieldName("Name");
  link.SetDataSource(&source);
  ds.Open();
  EXPECT_EQ(shown, "before");
  ASSERT_TRUE(link.Edit());
  link.Modified();
  ds.Post();
  EXPECT_EQ(ds.NameAt(0), "typed");
  EXPECT_EQ(shown, "typed");
  EXPECT_EQ(editingChanges, 2);

  link.SetReadOnly(true);
  EXPECT_FALSE(link.Edit());
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST(DataSourceTest, StateEventsAndLinksFollowTheDataSetsLifetime) {
  auto ds = std::make_unique<VectorDataSet>();
  TDataSource source;
  std::vector<TDataSetState> states;
  source.OnStateChange = [&](TDataSource* s) { states.push_back(s->State()); };
  source.SetDataSet(ds.get());
  RecordingLink link;
  link.SetDataSource(&source);
  ds->Open();
  source.SetEnabled(false);
  source.SetEnabled(true);
  ds.reset();  // the source forgets the dataset; the link goes inactive
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(states, (std::vector<TDataSetState>{dsBrowse, dsInactive, dsBrowse, dsInactive}));
}

// A detail dataset whose master source is set in the test.
class Detail : public VectorDataSet {
 public:
  TDataSource* Master = nullptr;
  TDataSource* GetDataSource() const override { return Master; }
};

TEST(DataSourceTest, CircularLinksAreRefusedAndTheMasterLinkFollows) {
  VectorDataSet master;
  master.AddRow(1, "a");
  master.AddRow(2, "b");
  TDataSource masterSource;
  masterSource.SetDataSet(&master);
  Detail detail;
  detail.Master = &masterSource;
  TDataSource detailSource;
  detailSource.SetDataSet(&detail);
  detail.Open();
  try {
    masterSource.SetDataSet(&detail);  // would make the detail follow itself
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Circular datalinks are not allowed");
  }

  TMasterDataLink masterLink(&detail);
  std::vector<int> masterIds;
  masterLink.OnMasterChange = [&](TMasterDataLink* l) { masterIds.push_back(l->Fields()[0]->AsInteger()); };
  masterLink.SetFieldNames("ID");
  masterLink.SetDataSource(&masterSource);
  master.Open();
  ASSERT_FALSE(masterIds.empty());
  EXPECT_EQ(masterIds.front(), 1);
  master.Next();
  EXPECT_EQ(masterIds.back(), 2);
}

class TestConnection : public TCustomConnection {
 public:
  bool Up = false;
  std::vector<std::string> Log;

 protected:
  bool GetConnected() const override { return Up; }
  void DoConnect() override {
    Log.push_back("connect");
    Up = true;
  }
  void DoDisconnect() override {
    Log.push_back("disconnect");
    Up = false;
  }
};

TEST(ConnectionTest, DisconnectClosesRegisteredDataSets) {
  TestConnection con;
  auto a = std::make_unique<VectorDataSet>();
  VectorDataSet b;
  con.RegisterClient(a.get());
  con.RegisterClient(&b, [&](TCustomConnection* c, bool connecting) {
    static_cast<TestConnection*>(c)->Log.push_back(connecting ? "told up" : "told down");
  });
  con.BeforeDisconnect = [&](TCustomConnection*) { con.Log.push_back("before"); };
  con.AfterDisconnect = [&](TCustomConnection*) { con.Log.push_back("after"); };
  con.Open();
  a->Open();
  b.Open();
  EXPECT_EQ(con.DataSetCount(), 2);
  con.Close();
  EXPECT_FALSE(a->Active());
  EXPECT_FALSE(b.Active());
  EXPECT_EQ(con.Log,
            (std::vector<std::string>{"connect", "told up", "before", "told down", "disconnect", "after"}));
  a.reset();  // a destroyed client leaves the connection
  EXPECT_EQ(con.DataSetCount(), 1);
  EXPECT_EQ(con.DataSets(0), &b);
  con.Close();  // already closed: nothing
  EXPECT_EQ(con.Log.size(), 6u);
}

}  // namespace
