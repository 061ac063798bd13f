#pragma once
// Declarations of kit's ui layer (views, controls, controllers, bars, popups, the window), for headers that
// only name them.

namespace kit {

class ActionSheetDelegate;
class ActionSheet;
class ActivityIndicatorView;
class AlertViewDelegate;
class AlertView;
class ApplicationDelegate;
class Application;
class BarButtonItem;
class BarButtonItemView;
class Button;
class DrawingView;
class Label;
class MoviePlayerBackend;
class MoviePlayerController;
class NavigationItem;
class NavigationBar;
class Popup;
class ProgressView;
class TabBar;
class TabBarController;
struct IndexPath;
class TableViewDataSource;
class TableViewDelegate;
class TableView;
class TableViewCell;
class TextFieldDelegate;
class TextField;
class TextView;
class Toolbar;
class ViewObserver;
class View;
struct PropertyAnimation;
struct RunningTransition;
class ViewAnimation;
class ViewController;
class Window;

} // namespace kit
