#include "screentest.h"

#include <QFrame>
#include <QLabel>
#include <QStackedWidget>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

using namespace ScreenTest;

namespace {

const char formStyleSheet[] =
    "QWidget\n{\n    background-color: rgb(28,28,28);\n}\n\n"
    "QLabel\n{\n    color:      rgb(255,255,255);\n}\n\n"
    "QFrame[borderStyleClass=frame]\n{\n    border:     2px solid  rgb(134,134,134);\n}\n";

const char alarmStyleSheet[] = "color: rgb(240,0,0);";

// Records every lookup and answers none, so the form shows its source texts.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        lookups << QStringList{ QString::fromUtf8(context), QString::fromUtf8(sourceText),
                                QString::fromUtf8(disambiguation), QString::number(n) };
        return QString();
    }
    bool isEmpty() const override { return false; }

    mutable QList<QStringList> lookups;
};

} // namespace

class TestScreenForm : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree_data();
    void widgetTree();
    void frames();
    void layouts();
    void labels();
    void formProperties();
    void onlyFramesCarryBorderClass();
    void textsPassThroughTranslate();
    void placeholdersNeverBlink();
    void blinkTimerRunsEveryHalfSecond();
    void autopilotUpdateDuringOffPhaseIsBlankAtOnce();
    void autopilotTextIsNotCut();
    void hiddenUpdateKeepsOldTextAndMask();
    void alarmThenNonAlarm();
    void hidingKeepsAlarmStyle();
};

void TestScreenForm::widgetTree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");

    QTest::newRow("autopilotScrFrame") << "autopilotScrFrame" << "QFrame" << "VelmoScreenForm";
    QTest::newRow("autopilotScr") << "autopilotScr" << "QLabel" << "autopilotScrFrame";
    QTest::newRow("msgStackedWidget") << "msgStackedWidget" << "QStackedWidget" << "VelmoScreenForm";
    QTest::newRow("msgShown") << "msgShown" << "QWidget" << "msgStackedWidget";
    QTest::newRow("msgScrFrame") << "msgScrFrame" << "QFrame" << "msgShown";
    QTest::newRow("msgScr") << "msgScr" << "QLabel" << "msgScrFrame";
}

void TestScreenForm::widgetTree()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);

    VelmoScreenForm form;
    const QList<QWidget *> found = form.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QCOMPARE(found.first()->parentWidget()->objectName(), parentName);
}

void TestScreenForm::frames()
{
    VelmoScreenForm form;
    const auto *autopilotFrame = child<QFrame>(form, "autopilotScrFrame");
    QCOMPARE(autopilotFrame->frameShape(), QFrame::Panel);
    QCOMPARE(autopilotFrame->frameShadow(), QFrame::Sunken);
    QCOMPARE(autopilotFrame->lineWidth(), 2);

    const auto *msgFrame = child<QFrame>(form, "msgScrFrame");
    QCOMPARE(msgFrame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(msgFrame->frameShadow(), QFrame::Raised);
    QCOMPARE(msgFrame->lineWidth(), QFrame().lineWidth());

    const auto *stack = child<QStackedWidget>(form, "msgStackedWidget");
    QCOMPARE(stack->count(), 2);
    QCOMPARE(stack->widget(0)->objectName(), QStringLiteral("msgHidden"));
    QCOMPARE(stack->widget(1)->objectName(), QStringLiteral("msgShown"));
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(!stack->widget(0)->layout());
}

void TestScreenForm::layouts()
{
    VelmoScreenForm form;
    const auto *top = qobject_cast<QVBoxLayout *>(form.layout());
    QVERIFY(top);
    QCOMPARE(top->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(top->spacing(), 2);
    QCOMPARE(top->contentsMargins(), QMargins());
    QCOMPARE(top->count(), 2);
    QCOMPARE(top->itemAt(0)->widget()->objectName(), QStringLiteral("autopilotScrFrame"));
    QCOMPARE(top->itemAt(1)->widget()->objectName(), QStringLiteral("msgStackedWidget"));

    const auto *shownLayout = child<QWidget>(form, "msgShown")->layout();
    QCOMPARE(shownLayout->objectName(), QStringLiteral("verticalLayout_4"));
    QCOMPARE(shownLayout->contentsMargins(), QMargins());
    QCOMPARE(child<QWidget>(form, "autopilotScrFrame")->layout()->objectName(),
             QStringLiteral("verticalLayout_2"));
    QCOMPARE(child<QWidget>(form, "msgScrFrame")->layout()->objectName(),
             QStringLiteral("verticalLayout_3"));
}

void TestScreenForm::labels()
{
    VelmoScreenForm form;
    const QVector<QPair<const char *, int>> screens{ { "autopilotScr", 8 }, { "msgScr", 4 } };
    for (const auto &screen : screens) {
        const auto *label = child<QLabel>(form, screen.first);
        QCOMPARE(label->text(), placeholder(screen.second));
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(label->font().family(), QStringLiteral("Ubuntu Mono"));
        QCOMPARE(label->font().pointSize(), 30);
        QCOMPARE(label->font().weight(), int(QFont::Bold));
        QVERIFY(label->styleSheet().isEmpty());
    }
    QCOMPARE(placeholder(8).size(), 167);
    QCOMPARE(placeholder(4).size(), 83);
}

void TestScreenForm::formProperties()
{
    VelmoScreenForm form;
    QCOMPARE(form.objectName(), QStringLiteral("VelmoScreenForm"));
    QCOMPARE(form.focusPolicy(), Qt::StrongFocus);
    QCOMPARE(form.windowTitle(), QStringLiteral("Form"));
    QCOMPARE(form.styleSheet(), QString::fromLatin1(formStyleSheet));
    QCOMPARE(form.styleSheet().size(), 176);
    QVERIFY(!form.isVisible());
}

void TestScreenForm::onlyFramesCarryBorderClass()
{
    VelmoScreenForm form;
    QStringList carriers;
    const QList<QObject *> objects = form.findChildren<QObject *>() << &form;
    for (const QObject *object : objects) {
        const QVariant value = object->property("borderStyleClass");
        if (!value.isValid())
            continue;
        QCOMPARE(value.userType(), int(QMetaType::QString));
        QCOMPARE(value.toString(), QStringLiteral("frame"));
        carriers << object->objectName();
    }
    carriers.sort();
    QCOMPARE(carriers, (QStringList{ "autopilotScrFrame", "msgScrFrame" }));
}

void TestScreenForm::textsPassThroughTranslate()
{
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    translator.lookups.clear(); // the toolkit's own lookups on installation
    VelmoScreenForm form;
    QCoreApplication::removeTranslator(&translator);

    const auto lookup = [](const QString &text) {
        return QStringList{ "VelmoScreenForm", text, "", "-1" };
    };
    const QList<QStringList> expected{ lookup("Form"), lookup("frame"), lookup(placeholder(8)),
                                       lookup("frame"), lookup(placeholder(4)) };
    QCOMPARE(translator.lookups, expected);
    QCOMPARE(form.windowTitle(), QStringLiteral("Form"));
}

void TestScreenForm::placeholdersNeverBlink()
{
    VelmoScreenForm form;
    for (int tick = 0; tick < 3; ++tick) {
        blinkTick(form);
        QCOMPARE(child<QLabel>(form, "autopilotScr")->text(), placeholder(8));
        QCOMPARE(child<QLabel>(form, "msgScr")->text(), placeholder(4));
    }
}

void TestScreenForm::blinkTimerRunsEveryHalfSecond()
{
    VelmoScreenForm form;
    const QList<QTimer *> timers = form.findChildren<QTimer *>();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.first()->interval(), 500);
    QVERIFY(timers.first()->isActive());
    QVERIFY(!timers.first()->isSingleShot());

    // The real timer, not a direct call, must flip the phase both ways.
    form.setAutopilotScreen("AB", "*");
    const auto *label = child<QLabel>(form, "autopilotScr");
    QCOMPARE(label->text(), QStringLiteral("AB"));
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral(" B"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("AB"), 5000);
}

void TestScreenForm::autopilotUpdateDuringOffPhaseIsBlankAtOnce()
{
    VelmoScreenForm form;
    const auto *label = child<QLabel>(form, "autopilotScr");
    blinkTick(form);
    form.setAutopilotScreen("AB\nCD", "*\n *");
    QCOMPARE(label->text(), QStringLiteral(" B\nC "));
    blinkTick(form);
    QCOMPARE(label->text(), QStringLiteral("AB\nCD"));
    blinkTick(form);
    QCOMPARE(label->text(), QStringLiteral(" B\nC "));
}

void TestScreenForm::autopilotTextIsNotCut()
{
    VelmoScreenForm form;
    const QString text = (QString(30, QLatin1Char('<')) + "&\n").repeated(10);
    form.setAutopilotScreen(text, QString());
    blinkTick(form);
    QCOMPARE(child<QLabel>(form, "autopilotScr")->text(), text);
}

void TestScreenForm::hiddenUpdateKeepsOldTextAndMask()
{
    VelmoScreenForm form;
    const auto *stack = child<QStackedWidget>(form, "msgStackedWidget");
    const auto *label = child<QLabel>(form, "msgScr");

    form.setMsgScreen(true, "XY", "*", false);
    QCOMPARE(stack->currentIndex(), 1);
    form.setMsgScreen(false, "QQ", "", true);
    QCOMPARE(stack->currentIndex(), 0);
    QCOMPARE(label->text(), QStringLiteral("XY"));
    QVERIFY(label->styleSheet().isEmpty());

    blinkTick(form);
    QCOMPARE(label->text(), QStringLiteral(" Y"));
    blinkTick(form);
    QCOMPARE(label->text(), QStringLiteral("XY"));

    form.setMsgScreen(true, "PQ", " *", false);
    QCOMPARE(stack->currentIndex(), 1);
    blinkTick(form);
    QCOMPARE(label->text(), QStringLiteral("P "));
}

void TestScreenForm::alarmThenNonAlarm()
{
    VelmoScreenForm form;
    const auto *stack = child<QStackedWidget>(form, "msgStackedWidget");
    const auto *label = child<QLabel>(form, "msgScr");

    form.setMsgScreen(true, "ALARM", "", true);
    QCOMPARE(stack->currentIndex(), 1);
    QCOMPARE(label->styleSheet(), QString::fromLatin1(alarmStyleSheet));
    QCOMPARE(label->text(), QStringLiteral("ALARM"));

    form.setMsgScreen(true, "INFO", "", false);
    QCOMPARE(stack->currentIndex(), 1);
    QVERIFY(label->styleSheet().isEmpty());
    QCOMPARE(label->text(), QStringLiteral("INFO"));
}

void TestScreenForm::hidingKeepsAlarmStyle()
{
    VelmoScreenForm form;
    form.setMsgScreen(true, "ALARM", "", true);
    form.setMsgScreen(false, "", "", false);
    QCOMPARE(child<QLabel>(form, "msgScr")->styleSheet(), QString::fromLatin1(alarmStyleSheet));
    QCOMPARE(child<QLabel>(form, "msgScr")->text(), QStringLiteral("ALARM"));
}

QTEST_MAIN(TestScreenForm)
#include "tst_screenform.moc"
