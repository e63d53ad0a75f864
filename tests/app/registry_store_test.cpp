// The settings store: the text format, damaged files, and concurrent writers.
#include "app/platform/registry_store.h"
#include "tests/support/temp_registry.h"

#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore";

TEST(RegistryDocument, EveryValueTypeSurvivesSerializeAndParse)
{
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes += static_cast<char>(i);
    const std::vector<std::pair<std::string, TRegValue>> values = {
        {"plain", {REG_SZ, std::string("mail.example.com") + '\0'}},
        {"quotes", {REG_SZ, std::string("say \"hi\" \\ there") + '\0'}},
        {"latin1", {REG_SZ, std::string("Gr\xFC\xDF" "e") + '\0'}},
        {"empty", {REG_SZ, std::string(1, '\0')}},
        {"expand", {REG_EXPAND_SZ, std::string("%HOME%\\faxes") + '\0'}},
        {"dword", {REG_DWORD, std::string("\x78\x56\x34\x12", 4)}},
        {"binary", {REG_BINARY, allBytes}},
        {"nobytes", {REG_BINARY, ""}},
        {"", {REG_SZ, std::string("default") + '\0'}},
    };
    TRegistryDocument doc;
    auto& key = doc.CreateKey(kKey);
    key.values = values;

    const std::string text = doc.Serialize();
    EXPECT_EQ(text.rfind("REGEDIT4", 0), 0u);
    EXPECT_NE(text.find("\"dword\"=dword:12345678"), std::string::npos);
    EXPECT_NE(text.find("\"plain\"=\"mail.example.com\""), std::string::npos);

    const TRegistryDocument back = TRegistryDocument::Parse(text);
    const auto* found = back.FindKey(kKey);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->values, values);
    // Parent keys exist too, as in an exported registry.
    EXPECT_TRUE(back.HasKey("HKEY_CURRENT_USER\\Software\\Quenlo"));
    EXPECT_TRUE(back.HasKey("hkey_current_user\\SOFTWARE\\quenlo"));
}

TEST(RegistryDocument, MalformedTextIsRejectedWithItsLine)
{
    const char* bad[] = {
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"a\"=\"unterminated\n",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"a\"=dword:123456789\n",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"a\"=hex:0g\n",
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"a\"=hex:01,\\\n",
        "REGEDIT4\n\n[HKEY_NOWHERE\\Software]\n",
        "REGEDIT4\n\n\"orphan\"=\"value\"\n",
        "not a registry file\n",
    };
    for (const char* text : bad)
        EXPECT_THROW(TRegistryDocument::Parse(text), ERegistryError) << text;
}

TEST(RegistryStore, WritesAtomicallyWithOwnerOnlyPermissions)
{
    TempRegistry registry;
    TRegistryStore store;
    EXPECT_FALSE(store.KeyExists(kKey));
    EXPECT_FALSE(store.ReadValue(kKey, "rgHost").has_value());

    store.WriteValue(kKey, "rgHost", {REG_SZ, std::string("pop.example.com") + '\0'});
    EXPECT_TRUE(store.KeyExists(kKey));
    EXPECT_EQ(store.ReadValue(kKey, "RGHOST")->data, std::string("pop.example.com") + '\0');
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(registry.Path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // it holds the mailbox password
    EXPECT_FALSE(QFile::exists(registry.Path() + QStringLiteral(".new")));
}

TEST(RegistryStore, DamagedFileIsReportedAndNeverOverwritten)
{
    TempRegistry registry;
    const QByteArray damaged = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quenlo]\n\"rgHost\"=\"half a value\n";
    registry.SetContents(damaged);
    TRegistryStore store;

    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            store.WriteValue(kKey, "rgHost", {REG_SZ, std::string("x") + '\0'});
            FAIL() << "a write to a damaged store succeeded";
        } catch (const ERegistryError& e) {
            EXPECT_NE(std::string(e.what()).find(registry.Path().toStdString()), std::string::npos) << e.what();
        }
        EXPECT_THROW(store.ReadValue(kKey, "rgHost"), ERegistryError);
    }
    EXPECT_EQ(registry.Contents(), damaged);
}

TEST(RegistryStore, TwoProcessesSavingAtOnceLoseNothing)
{
    TempRegistry registry;
    constexpr int kWrites = 40;
    auto writeMany = [&](const char* prefix) {
        TRegistryStore store;
        for (int i = 0; i < kWrites; ++i)
            store.WriteValue(kKey, prefix + std::to_string(i), {REG_DWORD, std::string(4, static_cast<char>(i))});
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            writeMany("child");
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    writeMany("parent");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    TRegistryStore store;
    for (int i = 0; i < kWrites; ++i) {
        EXPECT_TRUE(store.ReadValue(kKey, "parent" + std::to_string(i)).has_value()) << i;
        EXPECT_TRUE(store.ReadValue(kKey, "child" + std::to_string(i)).has_value()) << i;
    }
}

} // namespace
