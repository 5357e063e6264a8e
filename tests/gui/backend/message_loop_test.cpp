// The message loop without a display: synthetic messages through the
// pre-filter reach the actors of a window made by the recording toolkit,
// and the loop counters pass quits on to outer loops.
#include "gui/backend/message_loop.h"

#include "gui/backend/gui.h"
#include "gui/backend/widgets.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kiv::message_loop {
namespace {

using event::Message;
using event::Special;

class MessageLoop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("KIV_GUI", "record", 1);
        gui::add_routines();
        embed::boot();
        gui::load_engine();
        // new-window makes a window face with actors from a block and puts
        // it on the screen. win's actors log each event, and answer stop to
        // key-downs of Escape.
        run(R"(
            log: make block! 20
            logger: func [face event] [
                append log reduce [event/type event/key]
                if event/key = #"^[" ['stop]
            ]
            new-window: func [title handlers /local face] [
                face: make object! [
                    type: 'window offset: 0x0 size: 100x100 text: image: color: menu: data: none
                    enabled?: visible?: true selected: flags: options: parent: pane: state: rate: none
                    edge: para: font: extra: draw: actors: none
                ]
                face/text: title
                face/actors: make object! handlers
                face/state: reduce [system/view/platform/make-view face system/view/platform/make-null-handle 0 none false]
                append system/view/screens/1/pane face
                face
            ]
            post-key: func [face key] [send-event-os make event! [type: 'key key: key face: face] true]
            win: new-window "w" [on-key: on-key-down: on-key-up: on-down: on-over: on-wheel: :logger]
        )");
    }
    static std::string run(const char* code) {
        const embed::Result r = embed::eval_text(code);
        return r.ok ? embed::mold(r.value) : embed::error_report(r.value);
    }
    void SetUp() override {
        reset();
        run("clear log");
    }
    static std::int32_t window() { return 1; }  // the first widget made
    static Message key(std::uint32_t code, std::uint32_t character, Special special = Special::none,
                       std::uint32_t modifiers = 0) {
        Message m{};
        m.widget = window();
        m.kind = Message::Kind::key_down;
        m.code = code;
        m.character = character;
        m.special = special;
        m.modifiers = modifiers;
        return m;
    }
};

TEST_F(MessageLoop, KeysGiveKeyDownThenKey) {
    struct Case {
        Message message;
        int answer;
        const char* log;
    };
    const Case cases[] = {
        {key('A', 'a'), 1, R"([key-down #"A" key #"a"])"},
        {key('A', 'a', Special::none, event::flag::control), 1, R"([key-down #"A" key #"^A"])"},  // control code
        {key(8, 8, Special::none, event::flag::control), 1, R"([key-down #"^H" key #"^~"])"},     // 127
        {key(0xFFC2, 0, Special::f5), 1, "[key-down F5 key F5]"},
        {key(0xFFE1, 0, Special::left_shift), 1, "[key-down left-shift]"},  // a modifier types nothing
        {key(27, 27), 0, R"([key-down #"^["])"},  // a stopped key-down types nothing
        {key('A', 'a', Special::none, event::flag::alt), 1, R"([key-down #"A"])"},  // Alt+A: a shortcut, no character
    };
    for (const Case& c : cases) {
        run("clear log");
        EXPECT_EQ(prefilter(c.message), c.answer);
        EXPECT_EQ(run("log"), c.log);
    }
    run("clear log");
    prefilter(key(0x1F600, 0x1F600));  // outside the basic plane: the key holds the whole character
    EXPECT_EQ(run("last log"), run("#\"^(1F600)\""));
}

TEST_F(MessageLoop, MouseMessages) {
    Message move{};
    move.widget = window();
    move.kind = Message::Kind::motion;
    move.x = 5;
    EXPECT_EQ(prefilter(move), 1);
    EXPECT_EQ(prefilter(move), 0);  // the same position again is dropped
    move.x = 6;
    EXPECT_EQ(prefilter(move), 1);  // still the same window: no second over
    EXPECT_EQ(run("log"), "[over none]");
    Message wheel = move;
    wheel.kind = Message::Kind::wheel;
    for (const auto& [delta, notches] : {std::pair{-120, "-1.0"}, {30000, "-6.0"}, {240, "2.0"}}) {
        wheel.delta = delta;
        run("clear log  insert-event-func 'probe-wheel [if event/type = 'wheel [append log event/picked] none]");
        prefilter(wheel);
        run("remove-event-func 'probe-wheel");
        EXPECT_EQ(run("first log"), notches);
    }
}

TEST_F(MessageLoop, QuitsMergeAndPassToOuterLoops) {
    post_quit();
    post_quit();  // two posts before one is taken are one quit
    EXPECT_FALSE(do_events(false));
    EXPECT_FALSE(has_posted());
    EXPECT_EQ(loop_depth(), 1);
    reset();
    window_destroyed();  // two windows that ran loops were destroyed: two quits are owed
    window_destroyed();
    post_quit();
    do_events(false);
    EXPECT_TRUE(has_posted());  // the next outer loop ends too
    do_events(false);
    EXPECT_FALSE(has_posted());
    EXPECT_EQ(pending_quits(), 0);
}

TEST_F(MessageLoop, NoWaitTakesOneMessage) {
    EXPECT_FALSE(do_events(true));  // nothing waits
    post(key('B', 'b'));
    post_quit();
    EXPECT_TRUE(do_events(true));
    EXPECT_EQ(run("log"), R"([key-down #"B" key #"b"])");
    EXPECT_TRUE(do_events(true));  // the quit, taken here, ends no loop
    EXPECT_FALSE(has_posted());
}

TEST_F(MessageLoop, SentEventsReachTheWindow) {
    EXPECT_EQ(run("send-event-os make event! [type: 'down face: win offset: 3x4] false"), "true");
    EXPECT_EQ(run("log"), "[down none]");
    EXPECT_EQ(run("send-event-os make event! [type: 'key key: #\"x\" face: win] true"), "true");
    EXPECT_TRUE(has_posted());
    do_events(true);
    EXPECT_EQ(run("log"), R"([down none key #"x"])");
    EXPECT_EQ(run("send-event-os make event! [type: 'key key: #\"x\"] false"), "false");  // no face
}

TEST_F(MessageLoop, TenThousandPostedEventsAllArriveInOrder) {
    run(R"(
        count: 0  seen: none
        many: new-window "many" [on-key: func [face event] [count: count + 1 seen: event/key]]
        loop 9999 [post-key many #"a"]
        post-key many #"z"
    )");
    EXPECT_FALSE(do_events(false));
    EXPECT_FALSE(has_posted());
    EXPECT_EQ(run("reduce [count seen]"), R"([10000 #"z"])");
    run("system/view/platform/destroy-view many false  remove find system/view/screens/1/pane many");
}

TEST_F(MessageLoop, LoopsNestedWithoutEndStopAtStackOverflow) {
    // Each event's actor posts the next and runs a loop inside it: the
    // stack overflows, the actor that hit it is reported, every loop ends.
    run(R"(
        depth: 0
        deep: new-window "deep" [on-key: func [face event] [
            depth: depth + 1
            if depth < 100000 [post-key face #"n" do-events]
        ]]
        post-key deep #"n"
    )");
    EXPECT_FALSE(do_events(false));
    EXPECT_FALSE(has_posted());
    EXPECT_EQ(run("all [depth > 100 depth < 100000]"), "true");
    run("system/view/platform/destroy-view deep false  remove find system/view/screens/1/pane deep");
}

}  // namespace
}  // namespace kiv::message_loop
