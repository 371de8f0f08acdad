#pragma once
class VeZiRevoru;
