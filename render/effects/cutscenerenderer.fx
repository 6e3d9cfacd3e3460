// The scene renderer's shading: the deformed surface with cut surfaces,
// shadows from one light, the fogged ground, clipping at a height in y,
// sphere impostors for vertex handles, instanced arrows and sketch cylinders,
// and the object-ID image for picking.
//
// Conventions: matrices are row-major and act on column vectors; "camera
// space" is the view space (eye at the origin looking along -z). Passes that
// draw into the object-ID image write (kind << 28) | instance to output 1:
// kind 1 simulation vertex handles, 2 force arrows, 3 surface vertices.

attribute POSITION 0
attribute NORMAL 1
attribute COLOR 2
attribute CUT_ID 3
attribute CENTER 4
attribute TYPE 5
attribute WORLD_VIEW 6 4
attribute TRANS_INV_WORLD_VIEW 10 4

matrix g_mProjection
vector g_vLightPosCS
scalar g_fSphereRadius
matrix g_mWorldView
matrix g_mTransInvWorldView
vector g_vAmbientColor
vector g_vDiffuseColor
vector g_vSpecularColor
matrix g_mWorld
vector g_vSceneCenter
vector g_vFogColor
scalar g_fFogExponent
scalar g_fFogDensity
matrix g_mWorldLightSMProjection
vector g_vAmbientColorCutSurfaces
vector g_vDiffuseColorCutSurfaces
vector g_vSpecularColorCutSurfaces
matrix g_mShadowMap
matrix g_mInvViewLight
scalar g_fClippingY
texture g_txShadowMap 0

@common
const uint kKindSimulationVertex = 1u;
const uint kKindArrow = 2u;
const uint kKindSurfaceVertex = 3u;

// light that falls short of the lit colour in shadow keeps this share of the ambient term
const float kShadowAmbient = 0.6;
// depth margin of the shadow test against acne on lit surfaces
const float kShadowBias = 0.0003;
const float kShininess = 24.0;

uint ObjectId(uint kind, int index) {
  return (kind << 28) | (uint(index) & 0x0FFFFFFFu);
}

// 1 where the point lies in front of the light (the light looks along its -z)
float InFrontOfLight(vec3 posCamera) {
  vec4 posLight = g_mInvViewLight * vec4(posCamera, 1.0);
  return posLight.z < 0.0 ? 1.0 : 0.0;
}

// Share of the light that reaches a camera-space point, 3x3 samples of the
// shadow map; points outside the light's frustum count as lit.
float ShadowLit(vec3 posCamera) {
  vec4 s = g_mShadowMap * vec4(posCamera, 1.0);
  if (s.w <= 0.0) return 1.0;
  vec3 t = s.xyz / s.w;
  // the matrix gives texture rows growing downward, GL's t grows upward
  vec2 uv = vec2(t.x, 1.0 - t.y);
  if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0))) || t.z >= 1.0) return 1.0;
  vec2 texel = 1.0 / vec2(textureSize(g_txShadowMap, 0));
  float lit = 0.0;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      lit += t.z - kShadowBias <= texture(g_txShadowMap, uv + vec2(dx, dy) * texel).r ? 1.0 : 0.0;
  return lit / 9.0;
}

// Blinn-Phong with a point light at g_vLightPosCS; `lit` scales the direct
// light and part of the ambient term. Alpha adds up the materials' alphas.
vec4 Shade(vec3 posCamera, vec3 normal, vec4 ambient, vec4 diffuse, vec4 specular, float lit) {
  vec3 n = normalize(normal);
  vec3 toLight = normalize(g_vLightPosCS.xyz - posCamera);
  vec3 toEye = normalize(-posCamera);
  float diffuseShare = max(dot(n, toLight), 0.0);
  float specularShare = diffuseShare > 0.0 ? pow(max(dot(n, normalize(toLight + toEye)), 0.0), kShininess) : 0.0;
  vec3 rgb = ambient.rgb * mix(kShadowAmbient, 1.0, lit) +
             lit * (diffuse.rgb * diffuseShare + specular.rgb * specularShare);
  float alpha = clamp(ambient.a + diffuse.a * diffuseShare + specular.a * specularShare, 0.0, 1.0);
  return vec4(rgb, alpha);
}

// Fraction of the surface colour left by exponential fog around the scene centre.
float FogVisibility(vec3 posWorld) {
  float d = length(posWorld - g_vSceneCenter.xyz);
  return exp(-g_fFogDensity * pow(d, g_fFogExponent));
}

// Per-tag variation of the cut-surface material: brightness and a blue hint.
vec2 TagVariation(int tag) {
  uint h = uint(tag) * 2654435761u;
  h ^= h >> 15;
  return vec2(0.75 + 0.5 * float(h & 255u) / 255.0, 0.12 * float((h >> 8) & 255u) / 255.0);
}
@end

// ---- meshes with per-vertex normals -------------------------------------

@shader MeshVS
in vec3 POSITION;
in vec3 NORMAL;
out vec3 vPosCamera;
out vec3 vNormalCamera;
out vec3 vPosWorld;
void main() {
  vec4 posCamera = g_mWorldView * vec4(POSITION, 1.0);
  vPosCamera = posCamera.xyz;
  vNormalCamera = (g_mTransInvWorldView * vec4(NORMAL, 0.0)).xyz;
  vPosWorld = (g_mWorld * vec4(POSITION, 1.0)).xyz;
  gl_Position = ToDevice(g_mProjection * posCamera);
}
@end

// ---- meshes shaded with their face normals (the edit tool) ---------------

@shader FaceNormalVS
in vec3 POSITION;
out vec3 vPosCamera;
out vec3 vPosWorld;
void main() {
  vec4 posCamera = g_mWorldView * vec4(POSITION, 1.0);
  vPosCamera = posCamera.xyz;
  vPosWorld = (g_mWorld * vec4(POSITION, 1.0)).xyz;
  gl_Position = ToDevice(g_mProjection * posCamera);
}
@end

// Material g_vAmbientColor / g_vDiffuseColor / g_vSpecularColor; defines:
// SHADOWS (shadow-map test), FOG (fog around g_vSceneCenter, opaque),
// FACE_NORMALS (the plane of the triangle instead of a vertex normal).
@shader LitFS
in vec3 vPosCamera;
#ifndef FACE_NORMALS
in vec3 vNormalCamera;
#endif
in vec3 vPosWorld;
layout(location = 0) out vec4 outColor;
void main() {
#ifdef FACE_NORMALS
  // the screen-space slopes of the position span the triangle's plane; their
  // cross product faces the eye. Lines of the wire-frame mode have no plane:
  // they are shaded as if facing the eye.
  vec3 dx = dFdx(vPosCamera), dy = dFdy(vPosCamera);
  vec3 across = cross(dx, dy);
  vec3 normal = dot(across, across) > 1e-6 * dot(dx, dx) * dot(dy, dy) ? across : -vPosCamera;
#else
  // front faces are the clockwise ones, so a face seen from inside the body is "front"
  vec3 normal = gl_FrontFacing ? -vNormalCamera : vNormalCamera;
#endif
  float lit = InFrontOfLight(vPosCamera);
#ifdef SHADOWS
  lit *= ShadowLit(vPosCamera);
#endif
  vec4 color = Shade(vPosCamera, normal, g_vAmbientColor, g_vDiffuseColor, g_vSpecularColor, lit);
#ifdef FOG
  // the ground is opaque whatever its material's alpha, so screenshots keep it
  color = vec4(mix(g_vFogColor.rgb, color.rgb, FogVisibility(vPosWorld)), 1.0);
#endif
  outColor = color;
}
@end

// ---- the extracted surface with its cut surfaces ---------------------------

@shader CutSurfaceVS
in vec3 POSITION;
in vec3 NORMAL;
in vec3 COLOR;
in int CUT_ID;
out vec3 vPosCamera;
out vec3 vNormalCamera;
out vec3 vPosWorld;
out vec3 vColor;
flat out int vCutId;
void main() {
  vec4 posCamera = g_mWorldView * vec4(POSITION, 1.0);
  vPosCamera = posCamera.xyz;
  vNormalCamera = (g_mTransInvWorldView * vec4(NORMAL, 0.0)).xyz;
  vPosWorld = (g_mWorld * vec4(POSITION, 1.0)).xyz;
  vColor = COLOR;
  vCutId = CUT_ID;
  gl_Position = ToDevice(g_mProjection * posCamera);
}
@end

// Tag 0 (the original surface) takes the surface material, other tags the
// cut-surface material varied per tag. Defines: SHADOWS, CLIPPING (drops
// everything above g_fClippingY in world y), PER_VERTEX_COLOR (the vertex
// colour as material instead).
@shader CutSurfaceFS
in vec3 vPosCamera;
in vec3 vNormalCamera;
in vec3 vPosWorld;
in vec3 vColor;
flat in int vCutId;
layout(location = 0) out vec4 outColor;
void main() {
#ifdef CLIPPING
  if (vPosWorld.y > g_fClippingY) discard;
#endif
  vec3 normal = gl_FrontFacing ? -vNormalCamera : vNormalCamera;
  float lit = InFrontOfLight(vPosCamera);
#ifdef SHADOWS
  lit *= ShadowLit(vPosCamera);
#endif
#ifdef PER_VERTEX_COLOR
  vec4 ambient = vec4(0.6 * vColor, 0.0);
  vec4 diffuse = vec4(vColor, 0.0);
  vec4 specular = g_vSpecularColor;
#else
  vec4 ambient = g_vAmbientColor;
  vec4 diffuse = g_vDiffuseColor;
  vec4 specular = g_vSpecularColor;
  if (vCutId != 0) {
    vec2 variation = TagVariation(vCutId);
    ambient = vec4(g_vAmbientColorCutSurfaces.rgb * variation.x + vec3(0.0, 0.0, variation.y),
                   g_vAmbientColorCutSurfaces.a);
    diffuse = vec4(g_vDiffuseColorCutSurfaces.rgb * variation.x, g_vDiffuseColorCutSurfaces.a);
    specular = g_vSpecularColorCutSurfaces;
  }
#endif
  outColor = vec4(Shade(vPosCamera, normal, ambient, diffuse, specular, lit).rgb, 1.0);
}
@end

// ---- shadow map ------------------------------------------------------------

@shader ShadowVS
in vec3 POSITION;
void main() {
  gl_Position = ToDevice(g_mWorldLightSMProjection * vec4(POSITION, 1.0));
}
@end

@shader DepthOnlyFS
void main() {
}
@end

// ---- sphere impostors: a box around each centre, the sphere ray-cast -----

@shader SphereVS
in vec3 POSITION;
in vec3 CENTER;
in int TYPE;
out vec3 vPosCamera;
flat out vec3 vCenterCamera;
flat out int vType;
flat out int vInstance;
void main() {
  vec3 posWorld = CENTER + (2.0 * POSITION - 1.0) * g_fSphereRadius;
  vec4 posCamera = g_mWorldView * vec4(posWorld, 1.0);
  vPosCamera = posCamera.xyz;
  vCenterCamera = (g_mWorldView * vec4(CENTER, 1.0)).xyz;
  vType = TYPE;
  vInstance = gl_InstanceID;
  gl_Position = ToDevice(g_mProjection * posCamera);
}
@end

// Defines: SIMULATION_VERTEX (kind 1; green when free, blue when fixed) or
// SURFACE_VERTEX (kind 3, yellow).
@shader SphereFS
in vec3 vPosCamera;
flat in vec3 vCenterCamera;
flat in int vType;
flat in int vInstance;
layout(location = 0) out vec4 outColor;
layout(location = 1) out uint outObjectId;
void main() {
  // nearest hit of the eye ray through this fragment with the sphere
  vec3 direction = normalize(vPosCamera);
  float b = dot(direction, vCenterCamera);
  float c = dot(vCenterCamera, vCenterCamera) - g_fSphereRadius * g_fSphereRadius;
  float discriminant = b * b - c;
  if (discriminant < 0.0) discard;
  float t = b - sqrt(discriminant);
  if (t <= 0.0) discard;
  vec3 hit = direction * t;
  vec4 clip = g_mProjection * vec4(hit, 1.0);
  float depth = clip.z / clip.w;
  if (depth < 0.0 || depth > 1.0) discard;
  gl_FragDepth = depth;
  vec3 normal = (hit - vCenterCamera) / g_fSphereRadius;
  float shade = 0.35 + 0.65 * max(dot(normal, -direction), 0.0);
#ifdef SURFACE_VERTEX
  vec3 base = vec3(0.95, 0.85, 0.2);
  outObjectId = ObjectId(kKindSurfaceVertex, vInstance);
#else
  vec3 base = vType != 0 ? vec3(0.2, 0.4, 1.0) : vec3(0.2, 0.85, 0.2);
  outObjectId = ObjectId(kKindSimulationVertex, vInstance);
#endif
  outColor = vec4(base * shade, 1.0);
}
@end

// ---- instanced meshes: arrows and sketch cylinders -------------------------

// Per instance the rows of the world-view matrix and of its transposed inverse;
// INSTANCE_COLOR adds a colour per instance.
@shader InstancedVS
in vec3 POSITION;
in vec3 NORMAL;
in vec4 WORLD_VIEW0;
in vec4 WORLD_VIEW1;
in vec4 WORLD_VIEW2;
in vec4 WORLD_VIEW3;
in vec4 TRANS_INV_WORLD_VIEW0;
in vec4 TRANS_INV_WORLD_VIEW1;
in vec4 TRANS_INV_WORLD_VIEW2;
#ifdef INSTANCE_COLOR
in vec3 COLOR;
#endif
out vec3 vPosCamera;
out vec3 vNormalCamera;
out vec3 vColor;
flat out int vInstance;
void main() {
  vec4 p = vec4(POSITION, 1.0);
  vec4 posCamera = vec4(dot(WORLD_VIEW0, p), dot(WORLD_VIEW1, p), dot(WORLD_VIEW2, p), dot(WORLD_VIEW3, p));
  vec4 n = vec4(NORMAL, 0.0);
  vNormalCamera = vec3(dot(TRANS_INV_WORLD_VIEW0, n), dot(TRANS_INV_WORLD_VIEW1, n), dot(TRANS_INV_WORLD_VIEW2, n));
  vPosCamera = posCamera.xyz;
#ifdef INSTANCE_COLOR
  vColor = COLOR;
#else
  vColor = vec3(0.0);
#endif
  vInstance = gl_InstanceID;
  gl_Position = ToDevice(g_mProjection * posCamera);
}
@end

// Defines: FORCE_ARROW (orange, kind 2), INSTANCE_COLOR (the instance colour,
// kind 2), SKETCH (dark blue, no object ID).
@shader InstancedFS
in vec3 vPosCamera;
in vec3 vNormalCamera;
in vec3 vColor;
flat in int vInstance;
layout(location = 0) out vec4 outColor;
#ifndef SKETCH
layout(location = 1) out uint outObjectId;
#endif
void main() {
#if defined(INSTANCE_COLOR)
  vec3 base = vColor;
#elif defined(SKETCH)
  vec3 base = vec3(0.1, 0.1, 0.35);
#else
  vec3 base = vec3(1.0, 0.55, 0.1);
#endif
  vec3 normal = gl_FrontFacing ? -vNormalCamera : vNormalCamera;
  outColor = vec4(Shade(vPosCamera, normal, vec4(0.4 * base, 0.0), vec4(0.7 * base, 0.0),
                        vec4(0.3, 0.3, 0.3, 0.0), 1.0).rgb, 1.0);
#ifndef SKETCH
  outObjectId = ObjectId(kKindArrow, vInstance);
#endif
}
@end

// ---- unindexed line segments in g_vDiffuseColor -----------------------------

@shader LinesVS
in vec3 POSITION;
void main() {
  gl_Position = ToDevice(g_mProjection * (g_mWorldView * vec4(POSITION, 1.0)));
}
@end

@shader LinesFS
layout(location = 0) out vec4 outColor;
void main() {
  outColor = g_vDiffuseColor;
}
@end

technique CutSceneRenderer

pass SetSolidRenderMode
rasterizer fill=solid cull=cw

pass SetWireFrameRenderMode
rasterizer fill=wireframe cull=none

// the mesh passes below follow the render mode set by the two passes above

pass RenderMeshWithFaceNormals
depth test=less write=on
blend alpha
vertex FaceNormalVS
fragment LitFS FACE_NORMALS

pass RenderMeshWithFaceNormalsAndShadows
depth test=less write=on
blend alpha
vertex FaceNormalVS
fragment LitFS FACE_NORMALS SHADOWS

pass RenderMesh
depth test=less write=on
blend alpha
vertex MeshVS
fragment LitFS

pass RenderMeshWithShadows
depth test=less write=on
blend alpha
vertex MeshVS
fragment LitFS SHADOWS

pass RenderMeshWithPerVertexColor
depth test=less write=on
blend off
vertex CutSurfaceVS
fragment CutSurfaceFS PER_VERTEX_COLOR

pass RenderMeshWithCutSurfaces
depth test=less write=on
blend off
vertex CutSurfaceVS
fragment CutSurfaceFS

pass RenderMeshWithCutSurfacesAndShadows
depth test=less write=on
blend off
vertex CutSurfaceVS
fragment CutSurfaceFS SHADOWS

pass RenderMeshWithCutSurfacesAndClipping
depth test=less write=on
blend off
vertex CutSurfaceVS
fragment CutSurfaceFS CLIPPING

pass RenderMeshWithCutSurfacesAndClippingAndShadows
depth test=less write=on
blend off
vertex CutSurfaceVS
fragment CutSurfaceFS CLIPPING SHADOWS

// both sides cast shadows; the slope bias keeps lit surfaces out of their own shadow
pass RenderMeshIntoShadowMap
rasterizer fill=solid cull=none slopebias=2 bias=2
depth test=less write=on
blend off
vertex ShadowVS
fragment DepthOnlyFS

pass RenderMeshWithFog
depth test=less write=on
blend off
vertex MeshVS
fragment LitFS FOG

pass RenderMeshWithFogAndShadows
depth test=less write=on
blend off
vertex MeshVS
fragment LitFS FOG SHADOWS

// the far faces of each box, so that a sphere stays whole with the eye inside its box
pass RenderSimulationVertices
rasterizer fill=solid cull=ccw
depth test=less write=on
blend off
vertex SphereVS
fragment SphereFS SIMULATION_VERTEX

pass RenderForceArrows
rasterizer fill=solid cull=cw
depth test=less write=on
blend off
vertex InstancedVS
fragment InstancedFS FORCE_ARROW

pass RenderColorArrows
rasterizer fill=solid cull=cw
depth test=less write=on
blend off
vertex InstancedVS INSTANCE_COLOR
fragment InstancedFS INSTANCE_COLOR

// open tubes: their inside shows at the ends
pass RenderSketchCylinders
rasterizer fill=solid cull=none
depth test=less write=on
blend off
vertex InstancedVS
fragment InstancedFS SKETCH

pass RenderSurfaceVertices
rasterizer fill=solid cull=ccw
depth test=less write=on
blend off
vertex SphereVS
fragment SphereFS SURFACE_VERTEX

pass RenderExpandedLineSegments
depth test=less write=on
blend alpha
vertex LinesVS
fragment LinesFS
