void restartLogoutTimer(int ms)
{
    (void)ms;
}
