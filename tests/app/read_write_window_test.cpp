// "Прочитать" and "Записать" through the window against a simulated sign:
// which control each panel lands in, what the entry rows send, the busy
// buttons and the progress bar, and the error report when no port is open.
#include <gtest/gtest.h>

#include "tests/app/sign_window_fixture.h"
#include "tests/support/wait_for.h"

namespace {

using sign_link::PanelRecord;
using tarvo::test::ButtonsNot;
using tarvo::test::Control;
using tarvo::test::EnterRow;
using tarvo::test::LabelShows;
using tarvo::test::ProgressWatch;
using tarvo::test::RowShows;
using tarvo::test::SignWindowTest;
using tarvo::test::WaitFor;
using Texts = std::vector<std::string>;

const std::string kGreen = " #00ff00";
const std::string kRed = " #ff0000";

// The read requests in the order the read walks the panels.
const Texts kReadOrder = {"R0E", "R1E", "R2E", "R3E", "R4E", "R<E", "R;E", "R:E", "R9E", "R8E"};

Texts Repeated(const Texts& messages, size_t times) {
  Texts out;
  for (const std::string& m : messages) out.insert(out.end(), times, m);
  return out;
}

// A read attempt that the sign answered too late is asked again; the order
// of the panels is what counts.
Texts WithoutRepeats(const Texts& messages) {
  Texts out;
  for (const std::string& m : messages) {
    if (out.empty() || out.back() != m) out.push_back(m);
  }
  return out;
}

Texts Slice(const Texts& messages, size_t from, size_t count) {
  if (messages.size() < from + count) return messages;
  const auto first = messages.begin() + static_cast<std::ptrdiff_t>(from);
  return Texts(first, first + static_cast<std::ptrdiff_t>(count));
}

Texts From(const Texts& messages, size_t from) {
  return Slice(messages, from, messages.size() < from ? 0 : messages.size() - from);
}

TEST_F(SignWindowTest, ReadShowsEveryPanelInItsLabelAndFillsTheRowsSecondHalfWinning) {
  sign_.SetPanel(0, {"1234", '2', '1'});
  sign_.SetPanel(1, {"0550", '3', '3'});
  sign_.SetPanel(2, {"1111", '1', '0'});
  sign_.SetPanel(3, {"2222", '7', '2'});   // a grade code outside the list
  sign_.SetPanel(4, {"3333", '0', '1'});   // no grade, as the write sends it
  sign_.SetPanel(12, {"4444", '5', '3'});  // only its price reaches row 1
  sign_.SetPanel(11, {"5555", '1', '0'});
  sign_.SetPanel(10, {"6666", '1', '0'});
  sign_.SetPanel(9, {"7777", '1', '0'});
  sign_.SetPanel(8, {"----", '5', '2'});
  Control<QCheckBox>(*form_, "CheckBox1").setChecked(true);  // row 1 "Не исп."
  Control<QCheckBox>(*form_, "CheckBox8").setChecked(true);  // cleared by panel 2

  Click("Button7");

  EXPECT_EQ(RowShows(*form_, 1),
            "unused=1 ins=10 grade=-1 price=[44.44] | 33.33" + kGreen + " | 44.44" + kGreen);
  EXPECT_EQ(RowShows(*form_, 2),
            "unused=0 ins=01 grade=-1 price=[55.55] | 22.22" + kGreen + " | 55.55" + kGreen);
  EXPECT_EQ(RowShows(*form_, 3),
            "unused=0 ins=00 grade=0 price=[66.66] | 11.11" + kGreen + " | 66.66" + kGreen);
  EXPECT_EQ(RowShows(*form_, 4),
            "unused=0 ins=11 grade=2 price=[77.77] | 05.50" + kGreen + " | 77.77" + kGreen);
  EXPECT_EQ(RowShows(*form_, 5),
            "unused=0 ins=01 grade=4 price=[--.--] | 12.34" + kGreen + " | --.--" + kGreen);
  EXPECT_EQ(WithoutRepeats(sign_.Received()), kReadOrder);
  EXPECT_EQ(Progress(), 0);
  EXPECT_EQ(ButtonsNot(*form_, true), Texts{});
  EXPECT_EQ(boxes_.Texts(), Texts{}) << "a read tells the operator nothing";

  // "--.--" in a price field goes back to the sign as "----".
  sign_.ClearReceived();
  Click("Button8");
  EXPECT_EQ(Slice(sign_.Received(), 0, 2), (Texts{"W0----52E25", "W0----52E25"}));
  EXPECT_EQ(sign_.Panel(0), (PanelRecord{"----", '5', '2'}));
}

TEST_F(SignWindowTest, ReadBackPricesWithBlanksKeepTheirPlacesAndGoBackWithZeros) {
  for (uint8_t address : {0, 8}) sign_.SetPanel(address, {" 234", '1', '0'});
  for (uint8_t address : {4, 12}) sign_.SetPanel(address, {"12 4", '1', '0'});

  Click("Button7");

  EXPECT_EQ(Control<TMaskEdit>(*form_, "MaskEdit6").displayText().toStdString(), " 2.34");
  EXPECT_EQ(Control<TMaskEdit>(*form_, "MaskEdit1").displayText().toStdString(), "12. 4");
  Click("Button8");
  for (uint8_t address : {0, 8}) EXPECT_EQ(sign_.Panel(address).price, "0234") << int(address);
  for (uint8_t address : {4, 12}) EXPECT_EQ(sign_.Panel(address).price, "1204") << int(address);
}

TEST_F(SignWindowTest, ExchangeLogShowsReplyBytesOneCharacterEachAsTheLabelsDo) {
  sign_.SetPanel(8, {"\xB0\xFF"
                     "12",
                     '1', '0'});  // read last: its reply stays in the buffer
  const auto reply = [this] {
    return QString::fromLatin1(form_->ReplyBuffer().data(),
                               static_cast<qsizetype>(form_->ReplyBuffer().size()))
        .toStdString();
  };
  const auto lastLogLine = [this](const char* containing) {
    return form_->LogLines().filter(QString::fromUtf8(containing)).last().toStdString();
  };

  Click("Button7");
  EXPECT_EQ(lastLogLine("Принял:"), "Принял:" + reply());
  EXPECT_EQ(Control<QLabel>(*form_, "Label2").text().toStdString(),
            reply().substr(2, 4) + "." + reply().substr(6, 2));

  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.replyWithoutOk = true; });
  Click("Button7");
  EXPECT_EQ(lastLogLine("ошибочные"), "Принятые данные ошибочные:" + reply());
}

TEST_F(SignWindowTest, BadPanelShowsXxInRedAndLeavesItsRowAsTheOtherPanelLeftIt) {
  sign_.SetPanel(0, {"1234", '2', '1'});
  sign_.SetPanel(8, {"5678", '4', '2'});
  // Panel 8 is read last, after the bar reaches 8: all its attempts fail.
  QProgressBar& bar = Control<QProgressBar>(*form_, "ProgressBar1");
  const auto spoil = QObject::connect(&bar, &QProgressBar::valueChanged, &bar, [this](int value) {
    if (value == 8) sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.wrongFirstCheckDigit = 7; });
  });

  Click("Button7");
  QObject::disconnect(spoil);

  EXPECT_EQ(RowShows(*form_, 5),
            "unused=0 ins=10 grade=1 price=[12.34] | 12.34" + kGreen + " | XX.XX" + kRed);
  EXPECT_EQ(LabelShows(*form_, "Label11"), "--.--" + kGreen);
  EXPECT_EQ(ButtonsNot(*form_, true), Texts{});
}

TEST_F(SignWindowTest, WriteSendsTheRowsBottomUpTwiceEachThenReadsThemBack) {
  // Both copies of a frame are answered at once; the delay makes the
  // answers come after the purge that follows the second copy, also on a
  // busy machine, and well within the eight polls.
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.answerDelayMs = 50; });
  SetReadDelay(30);
  EnterRow(*form_, 5, false, true, false, 1, "12.34");   // 92, "Надпись 1"
  EnterRow(*form_, 4, false, true, true, 3, "40.50");    // 98, both inscriptions
  EnterRow(*form_, 3, true, false, false, 2, "12.34");   // "Не исп.", 95
  EnterRow(*form_, 2, false, true, false, -1, "  .  ");  // no grade, empty price
  EnterRow(*form_, 1, false, false, false, 4, "--.--");  // ДТ, a price read back as --.--
  ProgressWatch watch(*form_);

  Click("Button8");

  const Texts frames = {"W0123421E25", "W8123421E2D", "W1405042E24", "W9405042E2C", "W2----30E23",
                        "W:----30E2B", "W3000001E20", "W;000001E28", "W4----50E23", "W<----50E2B"};
  const Texts received = sign_.Received();
  EXPECT_EQ(Slice(received, 0, 20), Repeated(frames, 2));
  EXPECT_EQ(WithoutRepeats(From(received, 20)), kReadOrder);
  // What the sign holds now, as the read-back shows it: both inscriptions
  // are sent as "2", which reads back as "Надпись 2" alone.
  EXPECT_EQ(RowShows(*form_, 1),
            "unused=0 ins=00 grade=4 price=[--.--] | --.--" + kGreen + " | --.--" + kGreen);
  EXPECT_EQ(RowShows(*form_, 2),
            "unused=0 ins=10 grade=-1 price=[  .  ] | 00.00" + kGreen + " | 00.00" + kGreen);
  EXPECT_EQ(RowShows(*form_, 3),
            "unused=1 ins=00 grade=2 price=[--.--] | --.--" + kGreen + " | --.--" + kGreen);
  EXPECT_EQ(RowShows(*form_, 4),
            "unused=0 ins=01 grade=3 price=[4 .5 ] | 40.50" + kGreen + " | 40.50" + kGreen);
  EXPECT_EQ(RowShows(*form_, 5),
            "unused=0 ins=10 grade=1 price=[12.34] | 12.34" + kGreen + " | 12.34" + kGreen);

  ASSERT_FALSE(watch.Positions().empty());
  EXPECT_EQ(watch.ChangesWithButtonsEnabled(), 0)
      << "the seven buttons stay disabled through the write and the read-back";
  EXPECT_EQ(Progress(), 0);
  EXPECT_EQ(ButtonsNot(*form_, true), Texts{});
  EXPECT_EQ(boxes_.Texts(), Texts{});
}

TEST_F(SignWindowTest, WriteToASilentSignSendsEachFrameFourTimesAndStillReadsBack) {
  sign_.UpdateFaults([](sign_sim::SignFaults& f) { f.silent = true; });
  SetReadDelay(2);

  Click("Button8");

  ASSERT_TRUE(WaitFor([&] { return sign_.ReceivedCount() >= 40 + 70; }))
      << "got " << sign_.ReceivedCount() << " messages";
  Texts frames;
  for (uint8_t address : {0, 8, 1, 9, 2, 10, 3, 11, 4, 12}) {
    frames.push_back(sign_link::WriteFrame(address, {"0000", '1', '0'}));
  }
  const Texts received = sign_.Received();
  EXPECT_EQ(Slice(received, 0, 40), Repeated(frames, 4));
  EXPECT_EQ(Slice(received, 40, 70), Repeated(kReadOrder, 7));
  for (int row = 1; row <= 5; ++row) {
    EXPECT_EQ(RowShows(*form_, row),
              "unused=0 ins=00 grade=0 price=[  .  ] | XX.XX" + kRed + " | XX.XX" + kRed);
  }
  EXPECT_EQ(boxes_.Texts(), Texts{}) << "an unacknowledged write tells the operator nothing";
  EXPECT_EQ(Progress(), 0);
  EXPECT_EQ(ButtonsNot(*form_, true), Texts{});
}

TEST_F(SignWindowTest, CommandsOnAClosedPortReportThePurgeErrorSendNothingAndKeepTheButtons) {
  form_->Port().ClosePort();

  for (const char* button : {"Button7", "Button8", "Button5", "Button6"}) {
    boxes_.Clear();
    Click(button);
    ASSERT_EQ(boxes_.Texts(), Texts{"PurgeComm function failed (win error code: 9)"}) << button;
    EXPECT_EQ(boxes_.Shown()[0].icon, QMessageBox::Critical) << button;
    EXPECT_EQ(ButtonsNot(*form_, true), Texts{}) << "after " << button;
  }
  EXPECT_EQ(sign_.ReceivedCount(), 0u);
  EXPECT_EQ(RowShows(*form_, 5),
            "unused=0 ins=00 grade=0 price=[  .  ] | ---" + kRed + " | ---" + kRed);
}

TEST_F(SignWindowTest, PanelMembersWorkOnTheReplyBufferThroughTheWindowsPort) {
  form_->ReplyBuffer() = "W0123421E";
  form_->MakeCheckCode();
  ASSERT_EQ(form_->CheckCodeCharacters(), "25");

  form_->ReplyBuffer() += form_->CheckCodeCharacters();
  form_->WaitWriteAck();
  EXPECT_EQ(sign_.Panel(0), (PanelRecord{"1234", '2', '1'}));

  form_->ReadPanel(0);
  EXPECT_EQ(form_->ReplyBuffer().size(), 14u) << form_->ReplyBuffer();
  EXPECT_EQ(form_->ReplyBuffer().substr(0, 8), "T0123421");
}

}  // namespace
