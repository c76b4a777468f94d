#include <QAccessible>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <gtest/gtest.h>

#include "KLAnimation.h"
#include "TSSwitch.h"

namespace {

// A 50 x 30 track that counts its actions.
struct Switch {
    TSSwitch view;
    int actions = 0;

    Switch()
    {
        view.resize(TSSwitch::sizeForTrack({50, 30}));
        QObject::connect(&view, &TSSwitch::action, [this](TSSwitch* sender) {
            EXPECT_EQ(sender, &view);
            ++actions;
        });
    }
    // x in the track's coordinates.
    void mouse(QEvent::Type type, double x)
    {
        const QPointF at(TSSwitch::kOutset + x, view.height() / 2.0);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, view.mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
    }
    void drag(double from, double to)
    {
        mouse(QEvent::MouseButtonPress, from);
        mouse(QEvent::MouseMove, to);
        mouse(QEvent::MouseButtonRelease, to);
    }
};

void expectRect(const QRectF& rect, double x, double width)
{
    EXPECT_NEAR(rect.x(), x, 0.01);
    EXPECT_DOUBLE_EQ(rect.y(), 1);
    EXPECT_NEAR(rect.width(), width, 0.01);
    EXPECT_DOUBLE_EQ(rect.height(), 28);
}

class NegatingTransformer : public TSValueTransformer {
public:
    explicit NegatingTransformer(bool reversible)
        : m_reversible(reversible)
    {
    }
    bool allowsReverseTransformation() const override { return m_reversible; }
    QVariant reverseTransformedValue(const QVariant& value) const override { return !value.toBool(); }

private:
    bool m_reversible;
};

std::string stderrOf(const std::function<void()>& run)
{
    testing::internal::CaptureStderr();
    run();
    return testing::internal::GetCapturedStderr();
}

TEST(Switch, KnobGeometryOfA50By30Track)
{
    expectRect(TSSwitchGeometry::rectForKnob({50, 30}, false, false), 1, 29.67);
    expectRect(TSSwitchGeometry::rectForKnob({50, 30}, false, true), 19.33, 29.67);
    expectRect(TSSwitchGeometry::rectForKnob({50, 30}, true, false), 1, 34.78);
    expectRect(TSSwitchGeometry::rectForKnob({50, 30}, true, true), 14.22, 34.78);

    // The widget keeps room around the track; the knob is measured in the track.
    Switch s;
    EXPECT_EQ(s.view.trackSize(), QSizeF(50, 30));
    s.mouse(QEvent::MouseButtonPress, 10);
    expectRect(s.view.rectForKnob(), 1, 34.78);
    s.mouse(QEvent::MouseButtonRelease, 10);
    expectRect(s.view.rectForKnob(), 19.33, 29.67);
}

TEST(Switch, PressDragAndReleaseOutcomes)
{
    Switch click;
    click.mouse(QEvent::MouseButtonPress, 10);
    click.mouse(QEvent::MouseButtonRelease, 10);
    EXPECT_TRUE(click.view.isChecked());
    EXPECT_EQ(click.actions, 1);

    // Off, dragged to the left half: nothing, though a click there toggles.
    Switch left;
    left.drag(10, 10);
    EXPECT_FALSE(left.view.isChecked());
    EXPECT_EQ(left.actions, 0);

    // Off, dragged to the right half: the knob follows at once, the state on release.
    Switch right;
    right.mouse(QEvent::MouseButtonPress, 10);
    right.mouse(QEvent::MouseMove, 40);
    EXPECT_FALSE(right.view.isChecked());
    expectRect(right.view.rectForKnob(), 14.22, 34.78);
    right.mouse(QEvent::MouseButtonRelease, 40);
    EXPECT_TRUE(right.view.isChecked());
    EXPECT_EQ(right.actions, 1);
    expectRect(right.view.rectForKnob(), 19.33, 29.67);

    // On, dragged away and back: it ends where it started.
    Switch back;
    back.view.setChecked(true);
    back.mouse(QEvent::MouseButtonPress, 40);
    back.mouse(QEvent::MouseMove, 5);
    back.mouse(QEvent::MouseMove, 25);  // exactly half counts as on
    back.mouse(QEvent::MouseButtonRelease, 25);
    EXPECT_TRUE(back.view.isChecked());
    EXPECT_EQ(back.actions, 0);

    // Disabled: mouse, keys and accessibility leave it alone.
    Switch disabled;
    disabled.view.setEnabled(false);
    disabled.mouse(QEvent::MouseButtonPress, 10);
    disabled.mouse(QEvent::MouseButtonRelease, 10);
    QTest::keyClick(&disabled.view, Qt::Key_Space);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&disabled.view);
    ASSERT_NE(accessible, nullptr);
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    accessible->valueInterface()->setCurrentValue(1);
    EXPECT_FALSE(disabled.view.isChecked());
    EXPECT_EQ(disabled.actions, 0);
}

TEST(Switch, KeysToggleAndMoveWithAnAction)
{
    Switch s;
    QTest::keyClick(&s.view, Qt::Key_Space);
    EXPECT_TRUE(s.view.isChecked());
    QTest::keyClick(&s.view, Qt::Key_Right);
    EXPECT_TRUE(s.view.isChecked());
    EXPECT_EQ(s.actions, 1);
    QTest::keyClick(&s.view, Qt::Key_Left);
    QTest::keyClick(&s.view, Qt::Key_Left);
    EXPECT_FALSE(s.view.isChecked());
    EXPECT_EQ(s.actions, 2);
    QTest::keyClick(&s.view, Qt::Key_Right);
    QTest::keyClick(&s.view, Qt::Key_Space);
    EXPECT_FALSE(s.view.isChecked());
    EXPECT_EQ(s.actions, 4);
    // Setting the state is not a user change.
    s.view.setChecked(true);
    EXPECT_EQ(s.actions, 4);
}

TEST(Switch, TabReachesItAndSpaceTogglesIt)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* control = new TSSwitch(&window);
    layout->addWidget(field);
    layout->addWidget(control);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Tab);
    ASSERT_TRUE(control->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(control->isChecked());
}

TEST(Switch, AccessibleAsACheckBox)
{
    Switch s;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&s.view);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_TRUE(accessible->state().checkable);
    EXPECT_FALSE(accessible->state().checked);
    ASSERT_NE(accessible->valueInterface(), nullptr);
    EXPECT_EQ(accessible->valueInterface()->currentValue(), QVariant(0));
    ASSERT_TRUE(accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(s.view.isChecked());
    EXPECT_TRUE(accessible->state().checked);
    EXPECT_EQ(accessible->valueInterface()->currentValue(), QVariant(1));
    EXPECT_EQ(s.actions, 1);

    accessible->valueInterface()->setCurrentValue(1);
    EXPECT_EQ(s.actions, 1);
    accessible->valueInterface()->setCurrentValue(0);
    EXPECT_FALSE(s.view.isChecked());
    EXPECT_EQ(s.actions, 2);
}

TEST(Switch, CheckedBindingGetsEachChange)
{
    QObject settings;
    QObject model;
    model.setProperty("settings", QVariant::fromValue<QObject*>(&settings));
    Switch s;
    s.view.bind(QStringLiteral("checked"), {&model, QStringLiteral("settings.notify"), nullptr, QString()});

    settings.setProperty("notify", QStringLiteral("untouched"));
    s.view.setChecked(false);
    EXPECT_EQ(settings.property("notify"), QVariant(QStringLiteral("untouched")));
    s.mouse(QEvent::MouseButtonPress, 10);
    s.mouse(QEvent::MouseButtonRelease, 10);
    EXPECT_EQ(settings.property("notify"), QVariant(true));

    // Reversed through the transformer given, or the one named.
    s.view.bind(QStringLiteral("checked"),
                {&model, QStringLiteral("on"), std::make_shared<NegatingTransformer>(true), QString()});
    s.view.setChecked(false);
    EXPECT_EQ(model.property("on"), QVariant(true));
    TSValueTransformer::setValueTransformer(std::make_shared<NegatingTransformer>(true),
                                            QStringLiteral("SwitchTestNegating"));
    s.view.bind(QStringLiteral("checked"), {&model, QStringLiteral("on"), nullptr, QStringLiteral("SwitchTestNegating")});
    s.view.setChecked(true);
    EXPECT_EQ(model.property("on"), QVariant(false));
    TSValueTransformer::setValueTransformer(nullptr, QStringLiteral("SwitchTestNegating"));

    // A transformer that cannot go back: said so, the plain value goes on.
    s.view.bind(QStringLiteral("checked"),
                {&model, QStringLiteral("on"), std::make_shared<NegatingTransformer>(false), QString()});
    EXPECT_EQ(stderrOf([&] { s.view.setChecked(false); }),
              "WARNING: binding \"checked\" has value transformer, but it doesn't allow reverse transformations in "
              "-[TSSwitch propagateValue:forBinding:]\n");
    EXPECT_EQ(model.property("on"), QVariant(false));
}

TEST(Switch, CheckedBindingWithoutObjectOrKeyPath)
{
    QObject model;
    Switch s;
    s.view.bind(QStringLiteral("checked"), {&model, QString(), nullptr, QString()});
    EXPECT_EQ(stderrOf([&] { s.view.setChecked(true); }),
              "ERROR: NSObservedKeyPathKey was nil for binding \"checked\" in -[TSSwitch propagateValue:forBinding:]\n");
    s.view.bind(QStringLiteral("checked"), {nullptr, QStringLiteral("on"), nullptr, QString()});
    EXPECT_EQ(stderrOf([&] { s.view.setChecked(false); }),
              "ERROR: NSObservedObjectKey was nil for binding \"checked\" in -[TSSwitch propagateValue:forBinding:]\n");
    s.view.unbind(QStringLiteral("checked"));
    EXPECT_EQ(stderrOf([&] { s.view.setChecked(true); }), "");
}

TEST(Switch, AnimationOvershootsAndContinuesFromWhereTheKnobIs)
{
    Switch s;
    s.view.show();
    auto* animation = s.view.findChild<QVariantAnimation*>();
    ASSERT_NE(animation, nullptr);
    s.view.setChecked(true);
    ASSERT_EQ(animation->state(), QAbstractAnimation::Running);
    animation->pause();
    animation->setCurrentTime(200);
    const double x = s.view.presentedLook().knob.x();
    EXPECT_GT(x, 19.4);  // past its place on the right, before settling

    // Turned back mid-way: no jump.
    s.view.setChecked(false);
    EXPECT_DOUBLE_EQ(s.view.presentedLook().knob.x(), x);
    animation->stop();

    KLAnimation::setImmediateForTesting(true);
    s.view.setChecked(true);
    const TSSwitch::Look on = s.view.presentedLook();
    s.view.setEnabled(false);
    const double disabledOpacity = s.view.presentedLook().opacity;
    s.view.setChecked(false);
    const TSSwitch::Look off = s.view.presentedLook();
    KLAnimation::setImmediateForTesting(false);

    expectRect(on.knob, 19.33, 29.67);
    EXPECT_EQ(on.background, s.view.tintColor());
    EXPECT_EQ(on.border, s.view.tintColor());
    EXPECT_DOUBLE_EQ(disabledOpacity, 0.5);
    expectRect(off.knob, 1, 29.67);
    EXPECT_EQ(off.background.alpha(), 0);
    EXPECT_EQ(off.border, s.view.disabledBorderColor());
}

}  // namespace
