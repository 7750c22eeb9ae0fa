// OpenGL 1.1 as the web layer provides it: the types, the constants and every function the
// program may call, and nothing else. The browser offers WebGL, which has no immediate mode,
// lighting, matrix stacks, display lists or selection, so the layer's files in web/
// implement these calls themselves (web/gl_layer.h says which holds what). Found on the
// include path before the toolchain's own GL/gl.h, this header is the one GLUT's header
// brings in.
// NOTE: the functions have C++ linkage on purpose. The toolchain's WebGL library defines
// C functions of the same names that would quietly stand in for a missing one; with C++
// linkage a call this layer does not define fails the link, and a call it does not
// declare fails the compile.
#ifndef ORLEMAZ_WEB_GL_H
#define ORLEMAZ_WEB_GL_H
#define __gl_h_
#define __GL_H__

typedef unsigned int GLenum;
typedef unsigned char GLboolean;
typedef unsigned int GLbitfield;
typedef void GLvoid;
typedef signed char GLbyte;
typedef short GLshort;
typedef int GLint;
typedef unsigned char GLubyte;
typedef unsigned short GLushort;
typedef unsigned int GLuint;
typedef int GLsizei;
typedef float GLfloat;
typedef float GLclampf;
typedef double GLdouble;
typedef double GLclampd;

#define GL_FALSE 0
#define GL_TRUE 1

// Primitives.
#define GL_LINES 0x0001
#define GL_TRIANGLE_STRIP 0x0005
#define GL_QUADS 0x0007
#define GL_QUAD_STRIP 0x0008
#define GL_POLYGON 0x0009

// Capabilities.
#define GL_CULL_FACE 0x0B44
#define GL_LIGHTING 0x0B50
#define GL_DEPTH_TEST 0x0B71
#define GL_NORMALIZE 0x0BA1
#define GL_AUTO_NORMAL 0x0D80
#define GL_LIGHT0 0x4000
#define GL_LIGHT1 0x4001
#define GL_LIGHT2 0x4002
#define GL_LIGHT3 0x4003
#define GL_LIGHT4 0x4004
#define GL_LIGHT5 0x4005
#define GL_LIGHT6 0x4006
#define GL_LIGHT7 0x4007

// Faces, lights and materials.
#define GL_FRONT 0x0404
#define GL_BACK 0x0405
#define GL_POSITION 0x1203
#define GL_AMBIENT_AND_DIFFUSE 0x1602
#define GL_SMOOTH 0x1D01

// Matrices, buffers and queries.
#define GL_MODELVIEW 0x1700
#define GL_PROJECTION 0x1701
#define GL_COLOR_BUFFER_BIT 0x00004000
#define GL_DEPTH_BUFFER_BIT 0x00000100
#define GL_VIEWPORT 0x0BA2
#define GL_RGBA 0x1908
#define GL_UNSIGNED_BYTE 0x1401

// Display lists and render modes.
#define GL_COMPILE 0x1300
#define GL_RENDER 0x1C00
#define GL_SELECT 0x1C02

extern "C++" {
// State and buffers (web/gl_state.cpp; glReadPixels in web/webgl_backend.cpp).
void glEnable(GLenum cap);
void glGetIntegerv(GLenum pname, GLint* params);
void glViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha);
void glClear(GLbitfield mask);
void glFlush();
void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                  GLvoid* pixels);
void glShadeModel(GLenum mode);
void glLightfv(GLenum light, GLenum pname, const GLfloat* params);
void glMaterialfv(GLenum face, GLenum pname, const GLfloat* params);

// Matrices (web/gl_state.cpp).
void glMatrixMode(GLenum mode);
void glLoadIdentity();
void glPushMatrix();
void glPopMatrix();
void glTranslatef(GLfloat x, GLfloat y, GLfloat z);
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void glScalef(GLfloat x, GLfloat y, GLfloat z);
void glFrustum(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear,
               GLdouble zFar);

// Immediate mode (web/gl_pipeline.cpp).
void glBegin(GLenum mode);
void glEnd();
void glVertex3f(GLfloat x, GLfloat y, GLfloat z);
void glNormal3f(GLfloat x, GLfloat y, GLfloat z);
void glColor3f(GLfloat red, GLfloat green, GLfloat blue);
void glTexCoord2f(GLfloat s, GLfloat t);

// Display lists (web/gl_lists.cpp).
GLuint glGenLists(GLsizei range);
void glNewList(GLuint list, GLenum mode);
void glEndList();
void glCallList(GLuint list);

// Selection (web/selection.cpp).
void glSelectBuffer(GLsizei size, GLuint* buffer);
GLint glRenderMode(GLenum mode);
void glInitNames();
void glPushName(GLuint name);
void glLoadName(GLuint name);
}

#endif
