#include "globals.h"
#include "modalanswer.h"

ScreenSize::ScreenSize(int width, int height)
    : m_width(gScreenWidth)
    , m_height(gScreenHeight)
{
    gScreenWidth = width;
    gScreenHeight = height;
}

ScreenSize::~ScreenSize()
{
    gScreenWidth = m_width;
    gScreenHeight = m_height;
}
