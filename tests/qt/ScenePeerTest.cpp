// Peers follow the model: frames (rounded for display only), texts, hidden,
// alpha, translations, stacking, removal; animations over their durations;
// touches and typing back into the model.
#include "QtTestSupport.h"

#include "shells/qt/InputPanel.h"
#include "shells/qt/PeerRegistry.h"
#include "shells/qt/Scene.h"

#include "kit/ui/BarButtonItem.h"
#include "kit/ui/Button.h"
#include "kit/ui/Label.h"
#include "kit/ui/TableView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Toolbar.h"
#include "kit/ui/Window.h"

#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace qtshell;

namespace {

class FancyLabel : public kit::Label {
public:
    std::string className() const override { return "FancyLabel"; }
};

class Gadget : public kit::View { };

struct Countable {
    virtual ~Countable() = default;
};
class CountedLabel : public Countable, public kit::Label { };

class ScenePeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kit::RunLoop::main().reset();
        kit::ViewAnimation::reset();
        window = std::make_shared<kit::Window>();
        window->setBackgroundColor(kit::Color::black());
        host = std::make_unique<QWidget>();
        host->resize(320, 480);
    }
    void TearDown() override
    {
        scene.reset();
        host.reset();
        window.reset();
        kit::ViewAnimation::reset();
        kit::RunLoop::main().reset();
        kit::RunLoop::main().setClock(std::make_shared<kit::RealClock>());
    }
    void show()
    {
        scene = std::make_unique<Scene>(*window, host.get());
        host->show();
    }
    // A table of `rows` at `frame` in the window, shown.
    template <class Source>
    std::shared_ptr<kit::TableView> showTable(const std::shared_ptr<Source>& rows, kit::Rect frame)
    {
        auto table = kit::View::create<kit::TableView>(frame);
        table->setDataSource(rows);
        table->setDelegate(rows);
        window->addSubview(table);
        table->reloadData();
        show();
        return table;
    }
    std::vector<kit::View*> stackedViews(kit::View& parent)
    {
        std::vector<kit::View*> out;
        for (auto* o : scene->peerFor(&parent)->children())
            if (auto* p = dynamic_cast<ViewPeer*>(o); p && p->view())
                out.push_back(p->view());
        return out;
    }

    std::shared_ptr<kit::Window> window;
    std::unique_ptr<QWidget> host;
    std::unique_ptr<Scene> scene;
};

struct ReturnRecorder : kit::TextFieldDelegate {
    int returns = 0;
    std::string textAtReturn;
    bool textFieldShouldReturn(kit::TextField& f) override
    {
        ++returns;
        textAtReturn = f.text();
        return true;
    }
};

struct Rows : kit::TableViewDataSource, kit::TableViewDelegate {
    std::vector<int> selected;
    int tableViewNumberOfRowsInSection(kit::TableView&, int) override { return 20; }
    std::shared_ptr<kit::TableViewCell> tableViewCellForRowAtIndexPath(kit::TableView& table, kit::IndexPath ip) override
    {
        auto cell = table.dequeueReusableCellWithIdentifier("row");
        if (!cell)
            cell = kit::TableViewCell::create({ 0, 0, 320, 44 }, "row");
        cell->setText("file " + std::to_string(ip.row) + ".torrent");
        return cell;
    }
    void tableViewDidSelectRowAtIndexPath(kit::TableView&, kit::IndexPath ip) override { selected.push_back(ip.row); }
};

} // namespace

TEST(PeerRegistryTest, ViewsGetThePeerOfTheKitClassTheyAre)
{
    kit::Label label;
    FancyLabel fancy;
    CountedLabel counted;
    Gadget gadget;
    kit::Button button;
    kit::BarButtonItemView item({ 0, 0, 40, 30 }, kit::BarButtonItem::createSystem(kit::BarButtonSystemItem::Done));
    // Classes of the application's own are shown as the kit class they derive from.
    EXPECT_EQ(fancy.kind(), kit::ViewKind::Label);
    EXPECT_EQ(counted.kind(), kit::ViewKind::Label);
    EXPECT_EQ(item.kind(), kit::ViewKind::BarButtonItemView) << "the nearest kit class, not its base Button";
    ASSERT_NE(PeerRegistry::find(label.kind()), nullptr);
    EXPECT_NE(PeerRegistry::find(button.kind()), PeerRegistry::find(label.kind()));
    EXPECT_NE(PeerRegistry::find(item.kind()), PeerRegistry::find(button.kind()));
    // No peer class for them: the plain peer (background and subviews).
    EXPECT_EQ(PeerRegistry::find(gadget.kind()), nullptr);
    kit::Window window;
    EXPECT_EQ(PeerRegistry::find(window.kind()), nullptr);
    // The peers made are the registered classes', for the class's own views and those derived from it.
    auto host = std::make_shared<kit::Window>();
    QWidget widget;
    Scene scene(*host, &widget);
    std::unique_ptr<ViewPeer> forFancy(PeerRegistry::create(fancy, scene));
    std::unique_ptr<ViewPeer> forLabel(PeerRegistry::create(label, scene));
    std::unique_ptr<ViewPeer> forGadget(PeerRegistry::create(gadget, scene));
    EXPECT_EQ(typeid(*forFancy), typeid(*forLabel));
    EXPECT_EQ(typeid(*forGadget), typeid(ViewPeer));
    forFancy->detach();
    forLabel->detach();
    forGadget->detach();
}

TEST_F(ScenePeerTest, FramesStayFloatAndAreRoundedForDisplay)
{
    auto a = kit::View::create(kit::Rect { 10.4f, 20.6f, 100.2f, 30.3f });
    auto b = kit::View::create(kit::Rect { 110.6f, 20.6f, 50, 30.3f });
    window->addSubview(a);
    window->addSubview(b);
    show();
    auto* pa = scene->peerFor(a.get());
    auto* pb = scene->peerFor(b.get());
    ASSERT_TRUE(pa && pb);
    EXPECT_EQ(pa->geometry(), QRect(10, 21, 101, 30));
    // Neighbours that touch in the model touch on screen.
    EXPECT_EQ(pb->geometry().left(), pa->geometry().right() + 1);
    EXPECT_FLOAT_EQ(a->frame().x(), 10.4f);

    a->setFrame({ 0, 0, 40.5f, 40 });
    EXPECT_EQ(pa->geometry(), QRect(0, 0, 41, 40));
    a->setTransform(kit::Transform::translation(15, -5));
    EXPECT_EQ(pa->geometry(), QRect(15, -5, 41, 40));
}

TEST_F(ScenePeerTest, HiddenAlphaTextAndBackgroundShow)
{
    auto label = kit::View::create<kit::Label>(kit::Rect { 0, 20, 320, 40 });
    label->setBackgroundColor(kit::Color::white());
    window->addSubview(label);
    show();
    auto* peer = scene->peerFor(label.get());
    ASSERT_NE(peer, nullptr);
    QImage blank = peer->grab().toImage();
    EXPECT_EQ(distinctColours(blank), 1);
    label->setText("Seeding 42%");
    QImage written = peer->grab().toImage();
    EXPECT_GT(distinctColours(written), 2);
    label->setText("Idle");
    EXPECT_NE(peer->grab().toImage(), written);

    label->setHidden(true);
    EXPECT_TRUE(peer->isHidden());
    label->setHidden(false);
    EXPECT_FALSE(peer->isHidden());
    label->setAlpha(0);
    EXPECT_TRUE(peer->isHidden());
    label->setAlpha(0.5f);
    EXPECT_FALSE(peer->isHidden());
    EXPECT_NE(peer->graphicsEffect(), nullptr);
    label->setAlpha(1);
    EXPECT_EQ(peer->graphicsEffect(), nullptr);

    label->setBackgroundColor(kit::Color::rgba(1, 0, 0));
    label->setText("");
    QImage red = peer->grab().toImage();
    EXPECT_EQ(red.pixelColor(5, 5), QColor(255, 0, 0));
}

TEST_F(ScenePeerTest, AnImageButtonWithoutItsPictureShowsNothingOfItsName)
{
    // Two bars alike but for their buttons' names: with no pictures, nothing tells them apart.
    auto bar = [&](const char* name, float y) {
        auto toolbar = kit::View::create<kit::Toolbar>(kit::Rect { 0, y, 320, 44 });
        toolbar->setItems({ kit::BarButtonItem::createImage(nullptr, name, kit::BarButtonItemStyle::Plain, [] { }) });
        window->addSubview(toolbar);
        return toolbar;
    };
    auto back = bar("back", 20);
    auto forward = bar("forward_disable", 100);
    show();
    QImage a = scene->peerFor(back.get())->grab().toImage();
    QImage b = scene->peerFor(forward.get())->grab().toImage();
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a, b);
    EXPECT_NE(back->viewForItem(*back->items()[0]), nullptr) << "the button is still there to tap";
}

TEST_F(ScenePeerTest, StackingFollowsTheSubviewOrderAndPeersLeaveWithTheirViews)
{
    auto back = kit::View::create(kit::Rect { 0, 0, 100, 100 });
    auto middle = kit::View::create(kit::Rect { 0, 0, 100, 100 });
    window->addSubview(back);
    window->addSubview(middle);
    show();
    auto front = kit::View::create<kit::Label>(kit::Rect { 0, 0, 100, 100 });
    front->addSubview(kit::View::create(kit::Rect { 1, 1, 2, 2 }));
    window->addSubview(front);
    EXPECT_EQ(stackedViews(*window), (std::vector<kit::View*> { back.get(), middle.get(), front.get() }));
    EXPECT_EQ(scene->peerCount(), 5u);

    auto* backPeer = scene->peerFor(back.get());
    window->bringSubviewToFront(*back);
    EXPECT_EQ(stackedViews(*window), (std::vector<kit::View*> { middle.get(), front.get(), back.get() }));
    EXPECT_EQ(scene->peerFor(back.get()), backPeer) << "a move restacks the peer it has";
    window->insertSubview(back, 1);
    EXPECT_EQ(stackedViews(*window), (std::vector<kit::View*> { middle.get(), back.get(), front.get() }));
    window->insertSubview(back, 2);
    window->insertSubview(front, 0);
    EXPECT_EQ(stackedViews(*window), (std::vector<kit::View*> { front.get(), middle.get(), back.get() }));

    front->removeFromSuperview();
    EXPECT_EQ(scene->peerFor(front.get()), nullptr);
    EXPECT_EQ(scene->peerCount(), 3u);
    // Moved elsewhere: shown under its new parent.
    middle->addSubview(front);
    ASSERT_NE(scene->peerFor(front.get()), nullptr);
    EXPECT_EQ(scene->peerFor(front.get())->parentWidget(), scene->peerFor(middle.get()));
    middle->removeFromSuperview();
    middle.reset(); // destroyed with its subtree's last holder
    EXPECT_EQ(scene->peerCount(), 2u);
    front.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(stackedViews(*window), (std::vector<kit::View*> { back.get() }));
}

TEST_F(ScenePeerTest, AnimationsMoveOverTheirDurationOnTheRunLoopClock)
{
    auto& loop = kit::RunLoop::main();
    loop.useManualClock();
    auto box = kit::View::create(kit::Rect { 0, 100, 50, 50 });
    window->addSubview(box);
    show();
    auto* peer = scene->peerFor(box.get());
    bool stopped = false;
    kit::ViewAnimation::beginAnimations("slide");
    kit::ViewAnimation::setAnimationDuration(1.0);
    kit::ViewAnimation::setAnimationDidStop([&](const std::string&, bool, const std::any&) { stopped = true; });
    box->setFrame({ 200, 100, 50, 50 });
    box->setAlpha(0.0f);
    kit::ViewAnimation::commitAnimations();
    // The model has its end value at once; the screen starts where it was.
    EXPECT_FLOAT_EQ(box->frame().x(), 200);
    EXPECT_EQ(peer->geometry().x(), 0);
    EXPECT_TRUE(scene->isAnimating());

    EXPECT_TRUE(scene->isDrawingFrames());

    loop.advance(0.5);
    scene->animationFrame();
    EXPECT_EQ(peer->geometry().x(), 100);
    EXPECT_FALSE(peer->isHidden());
    EXPECT_FALSE(stopped);

    // A closed window draws no frames; shown again, it takes up where the animation is.
    host->hide();
    EXPECT_FALSE(scene->isDrawingFrames());
    loop.advance(0.25);
    host->show();
    const int shown = peer->geometry().x();
    EXPECT_GT(shown, 150) << "three quarters of the way, eased";
    EXPECT_LT(shown, 200);
    scene->animationFrame();
    EXPECT_EQ(peer->geometry().x(), shown);
    EXPECT_TRUE(scene->isDrawingFrames());

    loop.advance(0.35);
    EXPECT_TRUE(stopped);
    scene->animationFrame();
    EXPECT_EQ(peer->geometry().x(), 200);
    EXPECT_TRUE(peer->isHidden()); // faded out: alpha 0
    EXPECT_FALSE(scene->isAnimating());
    EXPECT_FALSE(scene->isDrawingFrames());
}

TEST_F(ScenePeerTest, TouchesReachTheViewUnderTheFinger)
{
    int taps = 0;
    auto panel = kit::View::create(kit::Rect { 0, 20, 320, 460 });
    auto button = kit::Button::create({ 10.5f, 372, 145, 34 }, "About", [&] { ++taps; });
    panel->addSubview(button);
    // A label over the button's right half takes the touches there.
    auto cover = kit::View::create<kit::Label>(kit::Rect { 90, 372, 100, 34 });
    panel->addSubview(cover);
    window->addSubview(panel);
    show();
    auto* buttonPeer = scene->peerFor(button.get());
    QTest::mouseClick(buttonPeer, Qt::LeftButton, {}, QPoint(20, 17));
    EXPECT_EQ(taps, 1);
    QTest::mouseClick(scene->peerFor(cover.get()), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(taps, 1);
    // Pressed inside, released outside: no tap.
    QTest::mousePress(buttonPeer, Qt::LeftButton, {}, QPoint(20, 17));
    EXPECT_TRUE(buttonPeer->isTouched());
    QTest::mouseRelease(buttonPeer, Qt::LeftButton, {}, QPoint(20, 60));
    EXPECT_EQ(taps, 1);
    EXPECT_FALSE(buttonPeer->isTouched());
    button->setEnabled(false);
    QTest::mouseClick(buttonPeer, Qt::LeftButton, {}, QPoint(20, 17));
    EXPECT_EQ(taps, 1);
}

TEST_F(ScenePeerTest, TextFieldsTakeTheKeyboardAndReturnReachesTheDelegate)
{
    auto delegateHeld = std::make_shared<ReturnRecorder>();
    auto& delegate = *delegateHeld;
    auto field = kit::View::create<kit::TextField>(kit::Rect { 5, 25, 230, 30 });
    field->setPlaceholder("Address");
    field->setDelegate(delegateHeld);
    window->addSubview(field);
    show();
    auto* edit = scene->peerFor(field.get())->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->placeholderText(), "Address");
    host->activateWindow();
    edit->setFocus();
    processUntil([&] { return field->isFirstResponder(); });
    EXPECT_TRUE(field->isFirstResponder());
    QTest::keyClicks(edit, "example.test");
    EXPECT_EQ(field->text(), "example.test");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "example.tes");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(delegate.returns, 1);
    EXPECT_EQ(delegate.textAtReturn, "example.tes");
    // The model changes the text: the field shows it.
    field->setText("http://localhost/");
    EXPECT_EQ(edit->text(), "http://localhost/");
    field->setDelegate({});
}

TEST_F(ScenePeerTest, TablesScrollAndReportTaps)
{
    auto rowsHeld = std::make_shared<Rows>();
    auto& rows = *rowsHeld;
    auto table = showTable(rowsHeld, kit::Rect { 0, 20, 320, 220 });
    auto* tablePeer = scene->peerFor(table.get());
    ASSERT_NE(tablePeer, nullptr);
    auto* row2 = table->cellForRowAtIndexPath({ 0, 2 });
    ASSERT_NE(row2, nullptr);
    ASSERT_NE(scene->peerFor(row2), nullptr);
    QTest::mouseClick(scene->peerFor(row2), Qt::LeftButton, {}, QPoint(100, 20));
    EXPECT_EQ(rows.selected, std::vector<int> { 2 });

    // The wheel scrolls: other rows get cells, and peers with them.
    QWheelEvent wheel(QPointF(100, 100), tablePeer->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, -240), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(scene->peerFor(table->visibleCells().front().get()), &wheel);
    EXPECT_GT(table->contentOffset(), 100);
    auto* row6 = table->cellForRowAtIndexPath({ 0, 6 });
    ASSERT_NE(row6, nullptr);
    ASSERT_NE(scene->peerFor(row6), nullptr);
    EXPECT_GE(scene->peerFor(row6)->geometry().top(), 0);

    // A drag moves the content with the finger and is no tap.
    float before = table->contentOffset();
    auto* under = scene->peerFor(table->visibleCells().front().get());
    QTest::mousePress(under, Qt::LeftButton, {}, QPoint(100, 40));
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 10), under->mapToGlobal(QPointF(100, 10)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(under, &move);
    QTest::mouseRelease(under, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_FLOAT_EQ(table->contentOffset(), before + 30);
    EXPECT_EQ(rows.selected, std::vector<int> { 2 });
    table->setDataSource({});
    table->setDelegate({});
}

// A long drag: the rows under the finger scroll and their peers come and go,
// yet the root keeps the mouse from press to release and the list follows
// the finger to the end, one to one.
TEST_F(ScenePeerTest, ALongDragFollowsTheFingerWhileRowsComeAndGo)
{
    auto rowsHeld = std::make_shared<Rows>();
    auto& rows = *rowsHeld;
    auto table = showTable(rowsHeld, kit::Rect { 0, 20, 320, 440 });
    auto* rootPeer = scene->rootPeer();
    auto* pressed = scene->peerFor(table->cellForRowAtIndexPath({ 0, 9 }));
    ASSERT_NE(pressed, nullptr);
    auto global = [&](int y) { return QPointF(rootPeer->mapToGlobal(QPoint(100, y))); };
    auto send = [&](QWidget* to, QEvent::Type type, int y, Qt::MouseButtons buttons) {
        QMouseEvent event(type, to->mapFromGlobal(global(y)), global(y), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(to, &event);
    };
    send(pressed, QEvent::MouseButtonPress, 440, Qt::LeftButton);
    ASSERT_EQ(QWidget::mouseGrabber(), rootPeer);
    for (int y = 430; y >= 200; y -= 10) {
        auto* grabber = QWidget::mouseGrabber();
        ASSERT_NE(grabber, nullptr);
        send(grabber, QEvent::MouseMove, y, Qt::LeftButton);
    }
    send(QWidget::mouseGrabber(), QEvent::MouseButtonRelease, 200, Qt::NoButton);
    EXPECT_FLOAT_EQ(table->contentOffset(), 240);
    EXPECT_TRUE(rows.selected.empty());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    table->setDataSource({});
    table->setDelegate({});
}

// A touch screen's fingers: the first is the touch, a drag scrolls one to one
// and a flick glides on after the finger has gone; a second finger neither
// taps nor scrolls nor spoils the first one's tap.
TEST_F(ScenePeerTest, FingersScrollWithInertiaAndASecondFingerIsIgnored)
{
    auto& loop = kit::RunLoop::main();
    loop.useManualClock();
    auto rowsHeld = std::make_shared<Rows>();
    auto& rows = *rowsHeld;
    auto table = showTable(rowsHeld, kit::Rect { 0, 20, 320, 440 });
    auto* screen = touchScreen();
    const QPoint row3(100, 20 + 3 * 44 + 22);
    const QPoint row6(100, 20 + 6 * 44 + 22);

    // A tap, taken as a touch (not as a mouse Qt would make of it).
    QTest::touchEvent(host.get(), screen).press(0, row3);
    EXPECT_TRUE(scene->isFingerDown());
    QTest::touchEvent(host.get(), screen).release(0, row3);
    EXPECT_FALSE(scene->isFingerDown());
    EXPECT_EQ(rows.selected, std::vector<int> { 3 });

    // A second finger comes, drags and lifts while the first rests on row 6:
    // nothing scrolls, and the first finger's tap is still a tap.
    QTest::touchEvent(host.get(), screen).press(0, row6);
    QTest::touchEvent(host.get(), screen).stationary(0).press(1, row3);
    for (int y = row3.y() - 20; y >= 40; y -= 20) {
        loop.advance(0.016);
        QTest::touchEvent(host.get(), screen).stationary(0).move(1, QPoint(100, y));
    }
    QTest::touchEvent(host.get(), screen).stationary(0).release(1, QPoint(100, 40));
    EXPECT_FLOAT_EQ(table->contentOffset(), 0);
    EXPECT_EQ(rows.selected, std::vector<int> { 3 }) << "the second finger taps nothing";
    QTest::touchEvent(host.get(), screen).release(0, row6);
    EXPECT_EQ(rows.selected, (std::vector<int> { 3, 6 }));

    // A flick: 200 points in 0.16 s, lifted while moving.
    QTest::touchEvent(host.get(), screen).press(0, QPoint(100, 420));
    for (int y = 400; y >= 220; y -= 20) {
        loop.advance(0.016);
        QTest::touchEvent(host.get(), screen).move(0, QPoint(100, y));
    }
    EXPECT_FLOAT_EQ(table->contentOffset(), 200) << "the list follows the finger one to one";
    QTest::touchEvent(host.get(), screen).release(0, QPoint(100, 220));
    EXPECT_TRUE(table->isGliding());
    loop.advance(5);
    EXPECT_FALSE(table->isGliding());
    EXPECT_GT(table->contentOffset(), 300) << "it glided on after the finger lifted";
    EXPECT_EQ(rows.selected, (std::vector<int> { 3, 6 })) << "a flick taps nothing";
    EXPECT_FALSE(scene->isFingerDown());
    table->setDataSource({});
    table->setDelegate({});
}

// A finger on a line edit a peer hosts is Qt's: the edit takes it as a
// mouse, and the field takes the keyboard and asks for the on-screen one.
TEST_F(ScenePeerTest, AFingerOnATextFieldGivesItTheKeyboard)
{
    auto field = kit::View::create<kit::TextField>(kit::Rect { 5, 25, 230, 30 });
    field->setPlaceholder("Address");
    window->addSubview(field);
    show();
    host->activateWindow();
    auto* edit = scene->peerFor(field.get())->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->inputMethodHints().testFlag(Qt::ImhUrlCharactersOnly));
    EXPECT_TRUE(edit->inputMethodHints().testFlag(Qt::ImhNoAutoUppercase));
    qtshell::InputPanel::release();
    QTest::touchEvent(host.get(), touchScreen()).press(0, QPoint(40, 40));
    QTest::touchEvent(host.get(), touchScreen()).release(0, QPoint(40, 40));
    EXPECT_TRUE(processUntil([&] { return field->isFirstResponder(); }));
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_TRUE(qtshell::InputPanel::isRequested());
    EXPECT_FALSE(scene->isFingerDown());
    // Return sends the keyboard away; a finger on the field brings it back.
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(qtshell::InputPanel::isRequested());
    EXPECT_TRUE(edit->hasFocus());
    QTest::touchEvent(host.get(), touchScreen()).press(0, QPoint(40, 40));
    QTest::touchEvent(host.get(), touchScreen()).release(0, QPoint(40, 40));
    EXPECT_TRUE(processUntil([&] { return qtshell::InputPanel::isRequested(); }));
    // The field resigns (Return, a new screen): the keyboard goes.
    field->resignFirstResponder();
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_FALSE(qtshell::InputPanel::isRequested());
}
