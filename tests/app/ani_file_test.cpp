// The animated-icon reader: layout walk, tables, frame stepping, and files
// that are cut short or lie about their sizes.
#include "app/ui/ani_file.h"
#include "app/ui/ani_icon.h"
#include "tests/app/ani_test_data.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ani_test;

namespace {

// Ticks until the frame changes; gives up after a bound so a broken rule
// cannot hang the test.
int TicksToAdvance(TAniFile& ani)
{
    for (int ticks = 1; ticks <= 1000; ++ticks)
        if (ani.Tick())
            return ticks;
    return -1;
}

QRgb CentrePixel(const TAniFile& ani, int frame) { return ani.FrameIcon(frame).pixel(16, 16); }

} // namespace

TEST(AniFile, ReadsTitleAuthorHeaderAndFramesInStoredOrder)
{
    Builder builder;
    builder.sequence = {2, 1, 0};
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_EQ(ani.Title(), "Test");
    EXPECT_EQ(ani.Author(), "Tester");
    EXPECT_EQ(ani.Header().cFrames, 3u);
    EXPECT_EQ(ani.Header().jifRate, 10u);
    EXPECT_EQ(ani.Sequence(0), 2u);
    ASSERT_EQ(ani.FrameCount(), 3);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ani.FrameIcon(i).size(), QSize(32, 32));
        EXPECT_EQ(CentrePixel(ani, i), FrameColour(i)) << "frame " << i;
        EXPECT_EQ(qAlpha(ani.FrameIcon(i).pixel(0, 0)), 0) << "masked pixel of frame " << i;
    }
    // The sequence table is not followed: frames play 0, 1, 2, 0.
    for (int expected : {1, 2, 0}) {
        TicksToAdvance(ani);
        EXPECT_EQ(ani.CurrentFrame(), expected);
    }
}

TEST(AniFile, WithoutInformationListTheHeaderComesFirst)
{
    Builder builder;
    builder.info = false;
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_TRUE(ani.Title().empty());
    EXPECT_EQ(ani.FrameCount(), 3);
}

TEST(AniFile, SeventyFramesShowTheFirstSixtyFour)
{
    Builder builder;
    builder.frames = 70;
    builder.defaultRate = 0;
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_EQ(ani.FrameCount(), 64);
    EXPECT_EQ(CentrePixel(ani, 63), FrameColour(63));
    EXPECT_FALSE(ani.HasFrame(64));

    ani.SetCurrentFrame(63);
    ASSERT_EQ(ani.CurrentFrame(), 63);
    EXPECT_TRUE(ani.Tick());
    EXPECT_EQ(ani.CurrentFrame(), 0);
}

TEST(AniFile, RateOfTenJiffiesAdvancesEverySixTicks)
{
    Builder builder;
    builder.defaultRate = 3;
    builder.rates = {10, 10, 10};
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    for (int expected : {1, 2, 0}) {
        EXPECT_EQ(TicksToAdvance(ani), 6);
        EXPECT_EQ(ani.CurrentFrame(), expected);
    }
}

TEST(AniFile, FramesWithoutRateEntryUseTheDefaultRate)
{
    Builder builder;
    builder.defaultRate = 4; // 4 / 2 + 1 = 3 ticks
    builder.rates = {0};     // only frame 0 has its own rate
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_EQ(ani.Rate(0), 0u);
    EXPECT_EQ(ani.Rate(1), 4u);
    EXPECT_EQ(ani.Rate(80), 4u);
    EXPECT_EQ(TicksToAdvance(ani), 1);
    EXPECT_EQ(TicksToAdvance(ani), 3);
}

TEST(AniFile, SettingTheFrameChecksTheSlotAndRestartsTheCount)
{
    Builder builder;
    builder.defaultRate = 10;
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    ani.Tick();
    ani.Tick();
    ani.SetCurrentFrame(2);
    EXPECT_EQ(ani.CurrentFrame(), 2);
    EXPECT_EQ(ani.TickCount(), 0u);
    EXPECT_EQ(TicksToAdvance(ani), 6);
    for (int bad : {-1, 3, 64, 1000}) {
        ani.SetCurrentFrame(bad);
        EXPECT_EQ(ani.CurrentFrame(), 0) << bad;
    }
}

TEST(AniFile, OversizedTablesAndTextsAreCutAndTheWalkGoesOn)
{
    Builder builder;
    builder.rates.assign(200, 6);
    builder.rates[80] = 7;
    builder.sequence.assign(1000, 5);
    builder.title = std::string(1000, 'T');
    builder.author = std::string(300, 'A');
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_EQ(ani.Title(), std::string(256, 'T'));
    EXPECT_EQ(ani.Author(), std::string(256, 'A'));
    EXPECT_EQ(ani.Rate(80), 7u);
    EXPECT_EQ(ani.Rate(81), 0u);
    EXPECT_EQ(ani.Sequence(127), 5u);
    EXPECT_EQ(ani.FrameCount(), 3);
}

TEST(AniFile, FrameImageOutsideItsChunkOrTooLargeLeavesTheSlotEmpty)
{
    Builder builder;
    builder.frames = 4;
    builder.defaultRate = 0;
    builder.replacedFrames.resize(4);
    // Offset past the end of the chunk, and far past the file.
    builder.replacedFrames[1] = IconFile(IconImage(FrameColour(1)), 4000);
    builder.replacedFrames[2] = IconFile(IconImage(FrameColour(2)), 0xFFFFFFF0u);
    // A 32-bit frame (4264 bytes) does not fit the 4096-byte frame buffer.
    builder.replacedFrames[3] = IconFile(IconImage(FrameColour(3), 32));
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_TRUE(ani.HasFrame(0));
    EXPECT_FALSE(ani.HasFrame(1));
    EXPECT_FALSE(ani.HasFrame(2));
    EXPECT_FALSE(ani.HasFrame(3));
    // Playback returns to frame 0 at the first empty slot.
    EXPECT_TRUE(ani.Tick());
    EXPECT_EQ(ani.CurrentFrame(), 0);
}

TEST(AniFile, OffsetWithinTheChunkSkipsToTheImage)
{
    Builder builder;
    builder.frames = 1;
    // Ten bytes of padding sit between the directory and the image.
    builder.replacedFrames = {IconFile(QByteArray(10, 'x') + IconImage(FrameColour(5)), 32)};
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    ASSERT_TRUE(ani.HasFrame(0));
    EXPECT_EQ(CentrePixel(ani, 0), FrameColour(5));
}

TEST(AniFile, SmallFrameChunkStopsLoadingFrames)
{
    Builder builder;
    builder.frames = 3;
    builder.replacedFrames = {{}, QByteArray(100, '\0')};
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(builder.Build()));
    EXPECT_EQ(ani.FrameCount(), 1);
    EXPECT_TRUE(ani.HasFrame(0));
}

TEST(AniFile, EveryTruncationLoadsWithoutOverrunAndKeepsWholeFrames)
{
    Builder builder;
    builder.rates = {8, 8, 8};
    builder.sequence = {0, 1, 2};
    const QByteArray full = builder.Build();
    TAniFile ani;
    int previousFrames = 0;
    for (qsizetype length = 0; length < full.size(); ++length) {
        // A copy of exactly this length, so the sanitizer sees any read past it.
        const QByteArray cut(full.constData(), length);
        const bool complete = ani.LoadFromData(cut);
        EXPECT_TRUE(!complete || length == 0) << "length " << length;
        EXPECT_GE(ani.FrameCount(), previousFrames) << "length " << length;
        previousFrames = ani.FrameCount();
        for (int i = 0; i < ani.FrameCount(); ++i)
            EXPECT_EQ(CentrePixel(ani, i), FrameColour(i));
    }
    EXPECT_EQ(previousFrames, 2);
    // No data at all is an empty animation, not a damaged one.
    EXPECT_TRUE(ani.LoadFromData({}));
    EXPECT_TRUE(ani.Empty());
    EXPECT_EQ(ani.FrameCount(), 0);
}

TEST(AniFile, DeclaredSizesBeyondTheDataAreRejectedOrCut)
{
    const QByteArray good = Builder().Build();
    // A text or header running past the data fails the load; the two lists
    // are only read as far as the data goes.
    struct Case {
        const char* id;
        bool loads;
    };
    for (const Case& c : {Case{"INAM", false}, Case{"anih", false}, Case{"LIST", true}, Case{"fram", true}}) {
        const qsizetype at = QByteArray(c.id) == "fram" ? good.lastIndexOf("LIST") : good.indexOf(c.id);
        ASSERT_GE(at, 0);
        for (uint32_t size : {0xFFFFFFFFu, 0x7FFFFFFFu, uint32_t(good.size())}) {
            QByteArray bent = good;
            for (int i = 0; i < 4; ++i)
                bent[at + 4 + i] = char((size >> (8 * i)) & 0xFF);
            TAniFile ani;
            EXPECT_EQ(ani.LoadFromData(bent), c.loads) << c.id << " " << size;
            EXPECT_EQ(ani.FrameCount(), c.loads ? 3 : 0) << c.id << " " << size;
        }
    }
}

TEST(AniFile, IconDataShorterThanItsHeaderClaimsGivesNoImage)
{
    const QByteArray image = IconImage(FrameColour(1));
    EXPECT_FALSE(IconFromResource(image.constData(), int(image.size())).isNull());
    for (int length : {0, 39, 40, int(image.size()) - 1})
        EXPECT_TRUE(IconFromResource(image.constData(), length).isNull()) << length;

    QByteArray wide = image;
    wide[5] = 0x7F; // width far beyond the data
    EXPECT_TRUE(IconFromResource(wide.constData(), int(wide.size())).isNull());
}

TEST(AniFile, PaletteIndexBeyondTheColoursUsedIsBlack)
{
    // 4 bits per pixel, two palette entries, every pixel index 15.
    QByteArray image;
    for (uint32_t v : {40u, 32u, 64u})
        PutU32(image, v);
    PutU16(image, 1);
    PutU16(image, 4);
    for (uint32_t v : {0u, 0u, 0u, 0u, 2u, 0u})
        PutU32(image, v);
    PutU32(image, 0x00FFFFFF);
    PutU32(image, 0x00FF0000);
    image += QByteArray(16 * 32, char(0xFF));
    image += QByteArray(4 * 32, '\0');
    const QImage icon = IconFromResource(image.constData(), int(image.size()));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixel(5, 5), qRgb(0, 0, 0));
}

TEST(AniFile, PellimarBusyAnimationIsCurrentAndComplete)
{
    const QByteArray embedded = PellimarBusyAnimation();
    TAniFile ani;
    ASSERT_TRUE(ani.LoadFromData(embedded));
    EXPECT_EQ(ani.Title(), "Pellimar busy");
    ASSERT_EQ(ani.FrameCount(), 8);
    for (int i = 0; i < 8; ++i) {
        const QImage& frame = ani.FrameIcon(i);
        ASSERT_EQ(frame.size(), QSize(32, 32));
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0) << "corner of frame " << i;
        EXPECT_EQ(qAlpha(frame.pixel(16, 16)), 255) << "centre of frame " << i;
    }

    // The embedded file is what the drawing script writes today.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString output = dir.filePath(QStringLiteral("busy.ani"));
    QProcess script;
    script.start(QStringLiteral("python3"),
                 {QStringLiteral(PELLIMAR_SOURCE_DIR "/tools/make_pellimar_ani.py"), QStringLiteral("--output"), output});
    ASSERT_TRUE(script.waitForFinished(60000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().constData();
    QFile fresh(output);
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    EXPECT_TRUE(fresh.readAll() == embedded);
}
