// The controls' form data: .ui files compiled by uic, and the property bag round trip.
#include "propertybag.h"
#include "ui_captionfontform.h"
#include "ui_lowercaseform.h"
#include "ui_plainform.h"
#include "xpcmdbutton.h"
#include "xphelp.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

namespace {
// The resting look told by the button's top frame row: 0 Normal, 4 Highlighted.
bool showsHighlighted(const xpcmdbutton& b) {
    return b.surface().pixel(b.width() / 2, 1) == qRgb(0xCE, 0xE7, 0xFF);
}
} // namespace

class TestXpCmdButtonForms : public QObject {
    Q_OBJECT

private slots:
    void formWithNothingSetUsesTheDefaults() {
        QWidget form;
        Ui::PlainForm ui;
        ui.setupUi(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        xpcmdbutton* b = ui.xpcmdbutton1;
        QCOMPARE(b->Caption(), QStringLiteral("xpcmdbutton1"));
        QVERIFY(b->Enabled());
        QCOMPARE(b->State(), 0);
        QVERIFY(!showsHighlighted(*b));
        QCOMPARE(b->Font().family(), QStringLiteral("Liberation Mono"));
        QCOMPARE(b->Font(), form.font());
        QCOMPARE(b->captionLabel()->font(), form.font());
        QCOMPARE(ui.xphelp1->size(), QSize(21, 21)); // placed at 40 x 40
        QVERIFY(ui.xphelp1->Enabled());

        // Nothing differs from its default, so nothing would be stored.
        PropertyBag bag;
        b->WriteProperties(bag);
        ui.xphelp1->WriteProperties(bag);
        QVERIFY(bag.isEmpty());

        // The window's font follows into a button that was given none.
        QFont bigger = form.font();
        bigger.setPointSize(16);
        form.setFont(bigger);
        QCOMPARE(b->Font().pointSize(), 16);
        QCOMPARE(b->captionLabel()->font().pointSize(), 16);
    }

    void formWithCaptionAndFont() {
        QWidget form;
        Ui::CaptionFontForm ui;
        ui.setupUi(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        xpcmdbutton* b = ui.xpcmdbutton1;
        QCOMPARE(b->Caption(), QStringLiteral("Create Account"));
        QCOMPARE(b->captionLabel()->text(), QStringLiteral("Create Account"));
        QCOMPARE(b->Font().family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(b->Font().pointSize(), 10);
        QCOMPARE(b->captionLabel()->font().family(), QStringLiteral("Liberation Serif"));
        QVERIFY(!ui.xphelp1->Enabled());
        QVERIFY(!ui.xphelp1->isEnabled());

        PropertyBag bag;
        b->WriteProperties(bag);
        QCOMPARE(bag.names(), QStringList({"caption", "font"}));
        QCOMPARE(bag.ReadProperty("Caption").toString(), QStringLiteral("Create Account"));
        PropertyBag helpBag;
        ui.xphelp1->WriteProperties(helpBag);
        QCOMPARE(helpBag.names(), QStringList({"enabled"}));
        QCOMPARE(helpBag.value("Enabled"), QVariant(false));
    }

    void namesMatchWithoutRegardToCase() {
        QWidget form;
        Ui::LowerCaseForm ui;
        ui.setupUi(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        xpcmdbutton* b = ui.xpcmdbutton2;
        QCOMPARE(b->State(), 1);
        QVERIFY(showsHighlighted(*b));
        QCOMPARE(b->Caption(), QStringLiteral("Suspend Account"));
        QCOMPARE(b->Font().pointSize(), 14);
        QVERIFY(!ui.xphelp1->Enabled());
        // The stray spellings were routed, not kept beside the real properties.
        QVERIFY(b->dynamicPropertyNames().isEmpty());
        QVERIFY(ui.xphelp1->dynamicPropertyNames().isEmpty());
    }

    void captionFollowsTheObjectNameUntilSet() {
        xpcmdbutton b;
        b.setObjectName(QStringLiteral("xpcmdbutton3"));
        QCOMPARE(b.Caption(), QStringLiteral("xpcmdbutton3"));
        b.setCaption(QString());
        b.setObjectName(QStringLiteral("xpcmdbutton4"));
        QCOMPARE(b.Caption(), QString()); // an empty caption given is kept
    }

    void propertyBagRoundTrip() {
        QWidget window;
        auto* a = new xpcmdbutton(&window);
        a->setObjectName(QStringLiteral("xpcmdbutton1"));
        QFont f(QStringLiteral("Liberation Mono"), 13);
        a->setState(7);
        a->setEnabled_(false);
        a->setCaption(QStringLiteral("Terminate Account"));
        a->setFont_(f);
        PropertyBag bag;
        a->WriteProperties(bag);
        QCOMPARE(bag.names(), QStringList({"state", "enabled", "caption", "font"}));

        auto* b = new xpcmdbutton(&window);
        b->setObjectName(QStringLiteral("xpcmdbutton2"));
        b->ReadProperties(bag);
        QCOMPARE(b->State(), 7);
        QVERIFY(!b->Enabled());
        QCOMPARE(b->Caption(), QStringLiteral("Terminate Account"));
        QCOMPARE(b->Font(), f);

        // Writing a default again removes what was stored.
        a->setState(0);
        a->setEnabled_(true);
        a->setCaption(a->objectName());
        a->setFont_(window.font());
        a->WriteProperties(bag);
        QVERIFY(bag.isEmpty());

        // An empty bag reads every default.
        auto* c = new xpcmdbutton(&window);
        c->setObjectName(QStringLiteral("xpcmdbutton5"));
        c->ReadProperties(PropertyBag());
        QCOMPARE(c->Caption(), QStringLiteral("xpcmdbutton5"));
        QCOMPARE(c->Font(), window.font());
        QVERIFY(c->Enabled());
        QCOMPARE(c->State(), 0);
    }

    void bagNamesIgnoreCaseAndBadValuesReadAsDefault() {
        PropertyBag bag;
        bag.WriteProperty("CAPTION", QStringLiteral("Go"), QStringLiteral("x"));
        bag.WriteProperty("State", QStringLiteral("not a number"), 0);
        QCOMPARE(bag.names(), QStringList({"caption", "state"}));
        QCOMPARE(bag.ReadProperty("caption", QString()).toString(), QStringLiteral("Go"));
        bag.WriteProperty("Caption", QStringLiteral("Stop"), QStringLiteral("x"));
        QCOMPARE(bag.names().size(), 2); // the same entry, replaced
        QCOMPARE(bag.ReadProperty("cApTiOn", QString()).toString(), QStringLiteral("Stop"));
        QCOMPARE(bag.ReadProperty("state", 3), QVariant(3));
        QCOMPARE(bag.ReadProperty("missing", true), QVariant(true));

        xpcmdbutton b;
        b.ReadProperties(bag);
        QCOMPARE(b.State(), 0);
        QCOMPARE(b.Caption(), QStringLiteral("Stop"));
    }

    void settersTellTheContainer() {
        xpcmdbutton b;
        QSignalSpy spy(&b, &xpcmdbutton::PropertyChanged);
        b.setEnabled_(false);
        b.setState(1);
        b.setCaption(QStringLiteral("x"));
        b.setFont_(QFont(QStringLiteral("Liberation Sans"), 9));
        QStringList names;
        for (const auto& args : spy)
            names << args.at(0).toString();
        QCOMPARE(names, QStringList({"Enabled", "State", "Caption", "Font"}));
    }
};

QTEST_MAIN(TestXpCmdButtonForms)
#include "tst_xpcmdbutton_forms.moc"
