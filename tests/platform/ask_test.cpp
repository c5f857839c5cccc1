#include <gtest/gtest.h>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include "platform/ask.h"
#include "tests/common/testenv.h"

// A box the user closes without pressing a button must never read as consent, whatever it offered: Cancel
// where offered, else No, else its only button. A real box is shown and closed with Esc or its title bar.
TEST(Ask, ABoxClosedWithoutAButtonIsTheSafeAnswer) {
  const struct {
    ask::Buttons buttons;
    bool escape;  // else the window is closed
    ask::Button expected;
  } cases[] = {
      {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, true, QMessageBox::Cancel},
      {QMessageBox::Yes | QMessageBox::No, true, QMessageBox::No},
      {QMessageBox::Yes | QMessageBox::No, false, QMessageBox::No},
      {QMessageBox::Ok, false, QMessageBox::Ok},
      {QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::Cancel, false, QMessageBox::Cancel},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(int(c.buttons));
    QStringList seen;
    testenv::ModalWatcher closer([&](QWidget *modal) {
      if (auto *box = qobject_cast<QMessageBox *>(modal)) seen << box->text();
      if (c.escape) {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modal, &esc);
      } else {
        modal->close();
      }
    });
    EXPECT_EQ(ask::question(nullptr, "Tarnwick", "Delete it?", c.buttons, QMessageBox::Yes), c.expected);
    EXPECT_EQ(seen, QStringList{"Delete it?"});
  }
}

// An answerer answers in the user's place and sees what was asked; the one made last answers, the one
// before takes over again when it goes, and an answer that was not offered is taken as the safe one.
TEST(Ask, AnswerersStackAndAnOfferedAnswerIsEnforced) {
  QList<ask::Asked> asked;
  ask::Answerer outer([&](const ask::Asked &a) {
    asked << a;
    return QMessageBox::Yes;
  });
  EXPECT_TRUE(ask::yes(nullptr, "T", "first"));
  {
    ask::Answerer inner([](const ask::Asked &) { return QMessageBox::Retry; });  // not among Yes/No
    EXPECT_FALSE(ask::yes(nullptr, "T", "second"));
    EXPECT_EQ(ask::warning(nullptr, "T", "third", QMessageBox::Retry | QMessageBox::Cancel), QMessageBox::Retry);
  }
  EXPECT_EQ(ask::error(nullptr, "Err", "fourth"), QMessageBox::Ok);  // the outer answered Yes: not offered
  ASSERT_EQ(asked.size(), 2);
  EXPECT_EQ(asked[0].text, "first");
  EXPECT_EQ(asked[0].kind, ask::Kind::Question);
  EXPECT_EQ(asked[0].byDefault, QMessageBox::No);
  EXPECT_EQ(asked[1].kind, ask::Kind::Error);
  EXPECT_EQ(asked[1].title, "Err");
}
