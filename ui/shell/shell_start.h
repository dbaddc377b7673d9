#pragma once
// The front panel's part of start-up, run once the QApplication exists: the
// main menu with the keypad and the tip, the home page on top, the 10 ms
// tick, and the change signals of the parameter model and the USB watcher
// wired to the refresh dispatcher.
class UsbServer;

void shell_gui_start();
// Closes the settings menu when the USB watcher reports a stick ready while
// the menu is in front (the watcher's thread only asks).
void shell_follow_usb(UsbServer* usb);
