// A core file that reaches up to the main window without its header.
extern void restartLogoutTimer(int ms);
