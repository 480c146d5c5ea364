// The program's window: credentials, a queue name, a few values, nine operation buttons and a
// log pane, over one SQS client component.
#pragma once

#include <memory>
#include <string>

#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The main window. The controls are children of the window (Qt's parent-child tree owns and
// frees them); the member pointers are non-owning names for them, public like the design's
// published fields so that callers and tests can reach every control by its name.
class TFRMAmazonSQS : public QWidget {
 public:
  explicit TFRMAmazonSQS(QWidget* Parent = nullptr);
  ~TFRMAmazonSQS() override;

  // Members in declaration order.
  QFrame* pnlTop = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* txtRegion = nullptr;
  QLineEdit* txtAccessKey = nullptr;
  QLineEdit* txtSecretKey = nullptr;
  QFrame* pnlSQS = nullptr;
  QPushButton* btnCreateQueue = nullptr;
  QPushButton* btnDeleteQueue = nullptr;
  QPlainTextEdit* memoLog = nullptr;
  QLineEdit* txtQueueName = nullptr;
  QLabel* Label4 = nullptr;
  QPushButton* btnGetQueueAttributes = nullptr;
  QLineEdit* txtVisibilityTimeout = nullptr;
  QLabel* Label5 = nullptr;
  QPushButton* btnSetQueueAttributes = nullptr;
  QPushButton* btnListQueues = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* txtMessageBody = nullptr;
  QPushButton* btnSendMessage = nullptr;
  QPushButton* btnReceiveMessage = nullptr;
  QLineEdit* txtReceiptHandle = nullptr;
  QLabel* Label7 = nullptr;
  QPushButton* btnDeleteMessage = nullptr;
  QPushButton* btnPurgueQueue = nullptr;

  // A length of the design (pixels at 96 dpi) in pixels at the screen's logical dpi.
  int Scaled(int DesignPixels) const;

 protected:
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void CreateControls();
  void SetTabOrder();
  void AlignControls();
  void CentreOnScreen();

  double scale_ = 1.0;
};

// The program's one window while the program runs (non-owning; null before and after).
extern TFRMAmazonSQS* FRMAmazonSQS;
