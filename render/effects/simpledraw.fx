// Coloured points, lines and triangles drawn by the simple-draw batcher.

attribute POSITION 0
attribute COLOR 1

matrix g_mProjection
matrix g_mWorldView

@shader ColoredVS
in vec3 POSITION;
in vec4 COLOR;
out vec4 vColor;
void main() {
  vColor = COLOR;
  gl_Position = ToDevice(g_mProjection * (g_mWorldView * vec4(POSITION, 1.0)));
}
@end

@shader ColoredFS
in vec4 vColor;
layout(location = 0) out vec4 outColor;
void main() {
  outColor = vColor;
}
@end

technique SimpleDraw

pass Render
rasterizer fill=solid cull=none
depth test=less write=on
blend alpha
vertex ColoredVS
fragment ColoredFS

// keeps the rasterizer state the caller set (wire frame, culling, bias)
pass RenderUseCustomRasterizerState
depth test=less write=on
blend alpha
vertex ColoredVS
fragment ColoredFS

pass SetDefaultRasterizerState
rasterizer fill=solid cull=none
