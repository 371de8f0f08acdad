// Detects per camera, until the parameter loader that sets it is in place.
int gDetectCount = 2;
