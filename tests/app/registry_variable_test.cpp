// Setting variables: stored bytes per type, read acceptance, error reporting
// and the bookkeeping written when the owning window closes.
#include "app/ui/form.h"
#include "app/platform/message_box.h"
#include "app/platform/registry_store.h"
#include "app/ui/registry_variable.h"
#include "tests/support/temp_registry.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <cstring>

namespace {

const std::string kStoreKey = "HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore";
const std::string kBookkeepingKey = "HKEY_CURRENT_USER\\Software\\Tessaline\\QlRegistryVariable";

struct Boxes {
    Boxes()
    {
        SetMessageHandler([this](TMessageKind kind, const QString& caption, const QString& text) {
            shown.push_back({kind, caption, text});
            return TMessageAnswer::Ok;
        });
    }
    ~Boxes() { SetMessageHandler({}); }
    struct Box {
        TMessageKind kind;
        QString caption, text;
    };
    std::vector<Box> shown;
};

void Configure(TQlRegistryVariable& v, const char* name, TVarRegistryTypes type)
{
    v.SetRegCompanyName("Quenlo");
    v.SetRegApplicationName("Dravimex");
    v.SetRegStoreName("QlVariableStore");
    v.SetRegVariableName(name);
    v.SetRegVariableType(type);
}

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s += static_cast<char>(b);
    return s;
}

TEST(RegistryVariable, EachTypeStoresItsExactBytesAndReadsBack)
{
    TempRegistry registry;
    TRegistryStore store;
    double two = 2.0;
    std::string twoBytes(8, '\0');
    std::memcpy(twoBytes.data(), &two, 8);
    const QDateTime noonOnDayTwo(QDate(1900, 1, 1), QTime(12, 0));
    double dayCount = 2.5;
    std::string dayBytes(8, '\0');
    std::memcpy(dayBytes.data(), &dayCount, 8);

    struct Case {
        const char* name;
        TVarRegistryTypes type;
        QVariant in;
        TRegValue stored;
        QVariant out;
    } cases[] = {
        {"bool", TVarRegistryTypes::regBool, true, {REG_DWORD, Bytes({1, 0, 0, 0})}, true},
        {"boolFalse", TVarRegistryTypes::regBool, false, {REG_DWORD, Bytes({0, 0, 0, 0})}, false},
        {"currency", TVarRegistryTypes::regCurrency, 1.5, {REG_BINARY, Bytes({0x98, 0x3a, 0, 0, 0, 0, 0, 0})}, 1.5},
        {"negCurrency", TVarRegistryTypes::regCurrency, -1.0,
         {REG_BINARY, Bytes({0xf0, 0xd8, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff})}, -1.0},
        {"float", TVarRegistryTypes::regFloat, 2.0, {REG_BINARY, twoBytes}, 2.0},
        {"date", TVarRegistryTypes::regDateTime, noonOnDayTwo, {REG_BINARY, dayBytes}, noonOnDayTwo},
        {"integer", TVarRegistryTypes::regInteger, -2, {REG_DWORD, Bytes({0xfe, 0xff, 0xff, 0xff})}, -2},
        {"string", TVarRegistryTypes::regString, QStringLiteral("pop3.example.net"),
         {REG_SZ, std::string("pop3.example.net") + '\0'}, QStringLiteral("pop3.example.net")},
        {"empty", TVarRegistryTypes::regString, QString(""), {REG_SZ, std::string(1, '\0')}, QString("")},
    };
    Boxes boxes;
    for (const Case& c : cases) {
        TQlRegistryVariable v(nullptr);
        Configure(v, c.name, c.type);
        v.WriteVariable(c.in);
        const auto stored = store.ReadValue(kStoreKey, c.name);
        ASSERT_TRUE(stored.has_value()) << c.name;
        EXPECT_EQ(*stored, c.stored) << c.name;
        EXPECT_TRUE(v.VariableExists()) << c.name;
        QVariant back;
        v.ReadVariable(back);
        EXPECT_EQ(back, c.out) << c.name;
    }
    EXPECT_TRUE(boxes.shown.empty());
    // The text format round-trips these bytes through the file, too.
    EXPECT_NE(registry.Contents().indexOf("\"currency\"=hex:98,3a,00,00,00,00,00,00"), -1);
}

TEST(RegistryVariable, ReadAcceptsOnlyTheTableSizesAndTypes)
{
    TempRegistry registry;
    TRegistryStore store;
    store.WriteValue(kStoreKey, "expand", {REG_EXPAND_SZ, std::string("%HOME%/faxes") + '\0'});
    store.WriteValue(kStoreKey, "float4", {REG_BINARY, std::string(4, '\1')});
    store.WriteValue(kStoreKey, "float12", {REG_BINARY, std::string(12, '\1')});
    store.WriteValue(kStoreKey, "dwordText", {REG_DWORD, Bytes({1, 0, 0, 0})});

    Boxes boxes;
    TQlRegistryVariable expand(nullptr);
    Configure(expand, "expand", TVarRegistryTypes::regString);
    QVariant text;
    expand.ReadVariable(text);
    EXPECT_EQ(text.toString(), QStringLiteral("%HOME%/faxes")); // raw, not expanded
    EXPECT_TRUE(boxes.shown.empty());

    for (const char* name : {"float4", "float12"}) {
        TQlRegistryVariable v(nullptr);
        Configure(v, name, TVarRegistryTypes::regFloat);
        QVariant untouched(QStringLiteral("before"));
        v.ReadVariable(untouched);
        EXPECT_EQ(untouched, QVariant(QStringLiteral("before"))) << name;
    }
    TQlRegistryVariable wrongType(nullptr);
    Configure(wrongType, "dwordText", TVarRegistryTypes::regString);
    QVariant value;
    wrongType.ReadVariable(value);
    EXPECT_FALSE(value.isValid());

    ASSERT_EQ(boxes.shown.size(), 3u);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.kind, TMessageKind::Error);
        EXPECT_EQ(box.caption, QStringLiteral("Error"));
        EXPECT_EQ(box.text, QStringLiteral("Some Error Occurred Retrieving the Data\nfrom the registry.Values are not restored"));
    }
}

TEST(RegistryVariable, AssignedEventsReplaceTheBoxesAndNothingIsRaised)
{
    TempRegistry registry;
    Boxes boxes;
    TQlRegistryVariable v(nullptr);
    Configure(v, "missing", TVarRegistryTypes::regInteger);
    int readErrors = 0, writeErrors = 0;
    v.OnReadError = [&](QObject* sender) { readErrors += sender == &v; };
    v.OnWriteError = [&](QObject* sender) { writeErrors += sender == &v; };
    QVariant value;
    v.ReadVariable(value);
    v.WriteVariable(QStringLiteral("not a number"));
    EXPECT_EQ(readErrors, 1);
    EXPECT_EQ(writeErrors, 1);
    EXPECT_TRUE(boxes.shown.empty());

    // Without the event, a damaged store is a write error whose box names the file.
    registry.SetContents("garbage\n");
    TQlRegistryVariable plain(nullptr);
    Configure(plain, "rgHost", TVarRegistryTypes::regString);
    plain.WriteVariable(QStringLiteral("host"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(
        QStringLiteral("Some Error Occurred Saving the Data\nto the registry.Variable is not Saved")));
    EXPECT_TRUE(boxes.shown[0].text.contains(registry.Path()));
    EXPECT_EQ(registry.Contents(), QByteArray("garbage\n"));
}

TEST(RegistryVariable, ClosingTheOwnerWritesBookkeepingThroughTheChain)
{
    TempRegistry registry;
    TRegistryStore store;
    TForm owner;
    std::vector<std::string> order;
    owner.OnClose = [&](QObject*, TCloseAction& action) {
        order.push_back("form");
        EXPECT_EQ(action, TCloseAction::caFree);
        action = TCloseAction::caHide;
    };
    auto* first = new TQlRegistryVariable(&owner);
    Configure(*first, "one", TVarRegistryTypes::regString);
    auto* second = new TQlRegistryVariable(&owner);
    Configure(*second, "two", TVarRegistryTypes::regString);
    second->SetRegStoreName("OtherStore");

    EXPECT_FALSE(store.KeyExists(kBookkeepingKey));
    owner.show();
    owner.close();

    EXPECT_EQ(order, std::vector<std::string>{"form"});
    // The variable created last runs first but writes after calling the one
    // before it, so its names are the ones left.
    EXPECT_EQ(store.ReadValue(kBookkeepingKey, "RegCompanyNameString")->data, std::string("Quenlo") + '\0');
    EXPECT_EQ(store.ReadValue(kBookkeepingKey, "RegAppNameString")->data, std::string("Dravimex") + '\0');
    EXPECT_EQ(store.ReadValue(kBookkeepingKey, "RegStoreNameString")->data, std::string("OtherStore") + '\0');
    EXPECT_FALSE(store.KeyExists(kStoreKey)); // nothing was ever saved

    // In design mode the names come from the bookkeeping values.
    TQlRegistryVariable designed(nullptr, true);
    EXPECT_EQ(designed.RegCompanyName(), "Quenlo");
    EXPECT_EQ(designed.RegStoreName(), "OtherStore");
}

TEST(RegistryVariable, DesignModeWithoutBookkeepingUsesTheDefaults)
{
    TempRegistry registry;
    TQlRegistryVariable designed(nullptr, true);
    EXPECT_EQ(designed.RegCompanyName(), "Tessaline");
    EXPECT_EQ(designed.RegApplicationName(), "QlRegistryVariable");
    EXPECT_EQ(designed.RegStoreName(), "QlVariableStore");
}

} // namespace
