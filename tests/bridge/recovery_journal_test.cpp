// The client's journal of texts and settings, as a new helper would get them
// after the steps of each row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/recovery.h"
#include "kal_drv.h"

using namespace bridge;

namespace {
// A kal_Synth_Mark request whose text is its name.
Request Text(const char* text, int32_t mark) {
    Request request;
    request.op = Op::SynthMark;
    request.args[0] = mark;
    request.texts[0] = NarrowField(text, 64);
    return request;
}

EventEntry Event(int32_t message, int32_t mark) { return EventEntry{message, mark, 0, 0, 0}; }

std::string Waiting(uint32_t generation) {
    std::string names;
    for (const auto& text : JournalWaiting(generation)) names += text.second.texts[0] + " ";
    return names;
}

class Journal : public testing::Test {
protected:
    void SetUp() override { RecoveryBegin(); }
    void TearDown() override { RecoveryEnd(); }
};
}  // namespace

TEST_F(Journal, TheOldestTextSentIsTheFaultingOneAndTheRestGoToTheNextHelperInOrder) {
    struct Row {
        const char* label;
        std::vector<int32_t> events;  // begin/end messages delivered before the death, in order
        bool stop;                    // a kal_Stop after the texts
        int32_t faultingMark;         // -1: none
        const char* waiting;
    };
    const Row rows[] = {
        {"nothing began", {}, false, 1, "b c "},
        {"a spoken, b began", {KAL_MSG_BEGIN, KAL_MSG_END, KAL_MSG_BEGIN}, false, 2, "c "},
        // Ends carry the mark of the text taken last: texts are ended in order, whatever the mark.
        {"all ended", {KAL_MSG_BEGIN, KAL_MSG_END, KAL_MSG_BEGIN, KAL_MSG_END, KAL_MSG_BEGIN, KAL_MSG_END}, false, -1, ""},
        {"stopped while a spoke", {KAL_MSG_BEGIN}, true, -1, ""},
    };
    for (const Row& row : rows) {
        RecoveryReset();
        for (const char* name : {"a", "b", "c"}) JournalAdd(Text(name, name[0] - 'a' + 1), 1);
        if (row.stop) JournalClear();
        for (int32_t message : row.events) JournalEvent(Event(message, 99));
        int32_t mark = -1;
        EXPECT_EQ(row.faultingMark >= 0, JournalTakeFaulting(1, mark)) << row.label;
        if (row.faultingMark >= 0) {
            EXPECT_EQ(row.faultingMark, mark) << row.label;
        }
        EXPECT_EQ(row.waiting, Waiting(2)) << row.label;
    }
}

TEST_F(Journal, AStoppedTextsEndDoesNotEndTheTextAfterTheStop) {
    JournalAdd(Text("a", 1), 1);
    JournalEvent(Event(KAL_MSG_BEGIN, 1));
    JournalClear();
    JournalAdd(Text("b", 2), 1);
    JournalEvent(Event(KAL_MSG_END, 1));  // the stopped text's
    EXPECT_EQ("b ", Waiting(2));
}

TEST_F(Journal, TextsNotSentOrSentToAnOlderHelperGoToTheNextTextsSentToItDoNot) {
    const uint64_t a = JournalAdd(Text("a", 1), 1);
    JournalAdd(Text("b", 2), 0);  // given while no helper ran
    JournalAdd(Text("c", 3), 2);  // already sent to the new helper
    JournalSent(a, 1);
    EXPECT_EQ("a b ", Waiting(2));
    int32_t mark = 0;
    EXPECT_FALSE(JournalTakeFaulting(3, mark)) << "a helper that got no text faulted on none";
}

TEST_F(Journal, LikeTheDriversRingSixteenTextsWaitAndAFurtherOneDropsTheOldestWaiting) {
    JournalAdd(Text("speaking", 0), 1);
    JournalEvent(Event(KAL_MSG_BEGIN, 0));
    for (int i = 1; i <= 17; ++i) JournalAdd(Text(std::to_string(i).c_str(), i), 1);
    EXPECT_EQ(17u, JournalSize());  // the one speaking and sixteen waiting
    std::string expected = "speaking ";
    for (int i = 2; i <= 17; ++i) expected += std::to_string(i) + " ";
    EXPECT_EQ(expected, Waiting(2));
}

TEST_F(Journal, AnIdleAnswerEndsEveryTextSentBeforeTheQuestion) {
    JournalAdd(Text("a", 1), 1);
    JournalAdd(Text("b", 2), 0);
    const uint64_t before = JournalNextNumber();
    JournalAdd(Text("c", 3), 1);
    JournalDoneUpTo(before - 1);
    EXPECT_EQ("b c ", Waiting(2)) << "a text not sent is not over";
}

TEST_F(Journal, SettingsComeBackAsTheHostLeftThem) {
    Request voice;
    voice.op = Op::SetVoiceByName;
    voice.texts[0] = NarrowField("Anna", 64);
    SettingsParameter(KAL_PARAM_RATE, 30);  // replaced by the voice's selection
    SettingsVoice(voice);
    SettingsParameter(KAL_PARAM_RATE, 70);
    SettingsParameter(KAL_PARAM_RATE, 101);  // ignored by the driver
    SettingsParameter(KAL_PARAM_VOLUME, 80);
    SettingsParameter(7, 20);  // a parameter the driver does not keep
    SettingsTerminated(true);
    const std::vector<StoredRequest> calls = SettingsReplay();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(Op::SetVoiceByName, calls[0].op);
    EXPECT_EQ("Anna", calls[0].texts[0]);
    EXPECT_EQ(Op::SetParameter, calls[1].op);
    EXPECT_EQ(KAL_PARAM_RATE, calls[1].args[0]);
    EXPECT_EQ(70, calls[1].args[1]);
    EXPECT_EQ(KAL_PARAM_VOLUME, calls[2].args[0]);
    EXPECT_EQ(80, calls[2].args[1]);
    EXPECT_EQ(Op::Terminate, calls[3].op);
    const Request view = calls[0].View();
    EXPECT_EQ(4u, view.texts[0].size);
    EXPECT_TRUE(view.texts[0].present);
}
