/* Fault injection into the discovery of link-sharing servers (a seam for tests): the
 * chosen step fails as if its call had failed, in every discovery until the fault is
 * cleared, so that each failure path can be shown to release what the discovery made. */
#ifndef HALVORINE_ADISCOVERYFAULTS_H
#define HALVORINE_ADISCOVERYFAULTS_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    aDISCOVERY_STEP_NONE = 0,
    aDISCOVERY_STEP_LOCK,        /* taking the beacon-interface lock */
    aDISCOVERY_STEP_CREATE,      /* starting the beacon actor */
    aDISCOVERY_STEP_CONFIGURE,   /* sending CONFIGURE */
    aDISCOVERY_STEP_HOST,        /* receiving the beacon's host address */
    aDISCOVERY_STEP_PUBLISH,     /* sending PUBLISH */
    aDISCOVERY_STEP_SUBSCRIBE,   /* sending SUBSCRIBE */
    aDISCOVERY_STEP_TIMEOUT,     /* setting the poll time-out */
    aDISCOVERY_STEP_UNSUBSCRIBE, /* sending UNSUBSCRIBE */
    aDISCOVERY_STEP_SILENCE,     /* sending SILENCE */
    aDISCOVERY_STEP_COUNT
} aDiscoveryStep;

/* Makes that step fail from now on; aDISCOVERY_STEP_NONE clears it. */
void aDiscovery_InjectFault(aDiscoveryStep step);

/* False when the step is to fail (the library asks before each step). */
bool aDiscovery_StepGoes(aDiscoveryStep step);

#ifdef __cplusplus
}
#endif

#endif
