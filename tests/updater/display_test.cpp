#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "CLI_Display.h"
#include "RecordingDisplay.h"
#include "StreamText.h"

namespace {

// A pseudo-terminal whose slave stands in for standard output, so the display
// draws as it would on a console; the master side reads back every byte.
class Terminal {
  public:
    Terminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
        if (slave < 0) return;
        termios raw;
        tcgetattr(slave, &raw);
        cfmakeraw(&raw); // no "\n" to "\r\n" translation
        tcsetattr(slave, TCSANOW, &raw);
        slave_ = fdopen(slave, "w");
    }
    ~Terminal() {
        if (slave_) fclose(slave_);
        if (master_ >= 0) close(master_);
    }
    FILE* file() const { return slave_; }
    // Everything written so far.
    std::string take() {
        std::string text;
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 50) > 0) {
            char buffer[1024];
            ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }

  private:
    int master_ = -1;
    FILE* slave_ = nullptr;
};

const std::string kBlank = "\r" + std::string(88, ' ') + "\r";

} // namespace

TEST(Display, ProgressBarOnATerminal) {
    Terminal term;
    ASSERT_NE(term.file(), nullptr);
    FILE* err = tmpfile();
    CLI_Display display(term.file(), err);
    struct Case {
        double fraction;
        const char* label;
        std::string drawn;
    } cases[] = {
        {0.0, nullptr, "\r[>" + std::string(68, ' ') + "] (  0% )"},
        {0.5, nullptr, "\r[" + std::string(34, '=') + ">" + std::string(34, ' ') + "] ( 50% )"},
        {1.0, nullptr, "\r[" + std::string(69, '=') + "> ] (100% )"},
        {0.5, "Updating",
         "\r (Updating) [" + std::string(28, '=') + ">" + std::string(28, ' ') + "] ( 50% )"},
        {1.0, "Updating", "\r (Updating) [" + std::string(57, '=') + "> ] (100% )"},
        // Out-of-range fractions are held to the bar's ends.
        {-0.5, nullptr, "\r[>" + std::string(68, ' ') + "] (  0% )"},
        {1.5, nullptr, "\r[" + std::string(69, '=') + "> ] (100% )"},
    };
    for (const Case& c : cases) {
        display.showProgress(c.fraction, c.label);
        EXPECT_EQ(term.take(), c.drawn) << c.fraction;
    }
    EXPECT_EQ(streamText(err), "");
    fclose(err);
}

TEST(Display, ClearLineBlanksOnlyWhenNotKept) {
    Terminal term;
    ASSERT_NE(term.file(), nullptr);
    CLI_Display display(term.file(), stderr);
    display.clearLine(true);
    EXPECT_EQ(term.take(), "");
    display.clearLine(false);
    EXPECT_EQ(term.take(), kBlank);
}

TEST(Display, ActivityFramesGrowAndShrink) {
    Terminal term;
    ASSERT_NE(term.file(), nullptr);
    CLI_Display display(term.file(), stderr);
    const std::vector<std::string> cycle = {".", "..", "...", "....", ".....", "....", "...", ".."};
    std::vector<std::string> frames;
    for (int i = 0; i < 9; ++i) {
        display.showActivity(true, i == 4 ? "Downloading" : nullptr);
        std::string drawn = term.take();
        const std::string head = i == 4 ? "\r (Downloading) " : "\r ";
        ASSERT_EQ(drawn.compare(0, head.size(), head), 0) << drawn;
        ASSERT_EQ(drawn.substr(drawn.size() - 7), "      \r");
        frames.push_back(drawn.substr(head.size(), drawn.size() - head.size() - 7));
        if (i == 6) {
            // Ending the indicator blanks the line and does not move the frame.
            display.showActivity(false, "Downloading");
            EXPECT_EQ(term.take(), kBlank);
        }
    }
    // The counter is shared by the whole process, so the run may start anywhere in the cycle.
    int start = -1;
    for (int s = 0; s < 8 && start < 0; ++s) {
        bool all = true;
        for (int i = 0; i < 9; ++i)
            all = all && frames[i] == cycle[(s + i) % 8];
        if (all) start = s;
    }
    EXPECT_GE(start, 0) << "frames do not follow the cycle";
}

TEST(Display, NothingIsDrawnWhenOutputIsNotATerminal) {
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    CLI_Display display(out, err);
    display.showProgress(0.5, nullptr);
    display.showActivity(true, "Downloading");
    display.showActivity(false, "Downloading");
    display.clearLine(false);
    display.showMessage("message");
    display.showError("error");
    EXPECT_EQ(streamText(out), "message\n");
    EXPECT_EQ(streamText(err), "error\n");
    fclose(out);
    fclose(err);
}

TEST(DisplayPrintf, LevelChoosesTheLine) {
    RecordingDisplay display;
    displayPrintf(&display, 0, "build %u", 7u);
    displayPrintf(&display, 1, "failed with %d", 3);
    displayPrintf(&display, 2, "%s", "other");
    displayPrintf(&display, 0, "ends in a line feed\n");
    EXPECT_EQ(display.messages, (std::vector<std::string>{"build 7", "other", "ends in a line feed\n"}));
    EXPECT_EQ(display.errors, (std::vector<std::string>{"failed with 3"}));
}

TEST(DisplayPrintf, LongTextIsCut) {
    RecordingDisplay display;
    std::string longText(5000, 'x');
    displayPrintf(&display, 0, "%s", longText.c_str());
    ASSERT_EQ(display.messages.size(), 1u);
    EXPECT_EQ(display.messages[0], std::string(2047, 'x'));
}

TEST(DisplayPrintf, QuietDisplayShowsNothing) {
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    {
        CLI_Display display(out, err);
        display.setQuiet(true);
        displayPrintf(&display, 0, "message");
        displayPrintf(&display, 1, "error");
        display.showMessage("direct");
    }
    EXPECT_EQ(streamText(out), "direct\n");
    EXPECT_EQ(streamText(err), "");
    fclose(out);
    fclose(err);
}
