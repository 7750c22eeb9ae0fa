// The one GLU call the program makes, provided by the web layer (web/selection.cpp): the
// browser has no GLU. C++ linkage, as in this folder's GL/gl.h, so that nothing else can
// stand in for it.
#ifndef ORLEMAZ_WEB_GLU_H
#define ORLEMAZ_WEB_GLU_H
#define __glu_h__
#define __GLU_H__

#include <GL/gl.h>

extern "C++" {
void gluPickMatrix(GLdouble x, GLdouble y, GLdouble width, GLdouble height, GLint viewport[4]);
}

#endif
